// SPDX-License-Identifier: Apache-2.0
// The objects a service hands to plug-ins as opaque handles. A handle is the object's address;
// it is valid from add() until remove(), and find() answers null for any other pointer (stale,
// foreign, of another kind or null) without reading through it. Each kind of object has a table
// of its own, and one lock guards them all together with the objects: the tables are reached
// only through a Writer (exclusive) or a Reader (shared), which hold the lock while they live.
//
// Registries of services are built on first use and never destroyed: what a plug-in made stays
// reachable until the process ends, and a plug-in's static tear-down may still call in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace host::util {

template <class Lock, class... Kinds>
class HandleRegistry {
    // One kind's objects: by handle, and in the order they were added.
    template <class T>
    struct Table {
        struct Entry {
            std::shared_ptr<T> object;  // owns it, or (track) only points at it
            uint64_t serial;
        };
        std::unordered_map<const void *, Entry> byHandle;
        std::map<uint64_t, T *> inOrder;
    };
    using Tables = std::tuple<Table<Kinds>...>;

    template <class T, class TablesRef>
    static auto &table(TablesRef &t) {
        return std::get<Table<T>>(t);
    }

public:
    // Shared access: look-ups and walks.
    class Reader {
    public:
        explicit Reader(HandleRegistry &r) : hold_(r.lock_), tables_(r.tables_) {}
        template <class T>
        T *find(const void *handle) const {
            return HandleRegistry::find<T>(tables_, handle);
        }
        // Calls f(T &) for each object of a kind, oldest first.
        template <class T, class F>
        void each(F &&f) const {
            for (auto &[serial, object] : table<T>(tables_).inOrder) f(*object);
        }

    private:
        std::shared_lock<Lock> hold_;
        const Tables &tables_;
    };

    // Exclusive access: look-ups, walks, and adding and removing objects.
    class Writer {
    public:
        explicit Writer(HandleRegistry &r) : hold_(r.lock_), registry_(r) {}
        template <class T>
        T *find(const void *handle) const {
            return HandleRegistry::find<T>(registry_.tables_, handle);
        }
        // The object behind a handle as a shared owner (null for an unknown handle).
        template <class T>
        std::shared_ptr<T> share(const void *handle) const {
            auto &t = table<T>(registry_.tables_);
            auto it = t.byHandle.find(handle);
            return it == t.byHandle.end() ? nullptr : it->second.object;
        }
        template <class T, class F>
        void each(F &&f) const {
            for (auto &[serial, object] : table<T>(registry_.tables_).inOrder) f(*object);
        }
        // Takes (a share of) the object and returns its handle. Throws std::bad_alloc.
        template <class T>
        T *add(std::shared_ptr<T> object) {
            T *raw = object.get();
            auto &t = table<T>(registry_.tables_);
            uint64_t serial = registry_.next_++;
            t.inOrder.emplace(serial, raw);
            try {
                t.byHandle.emplace(raw, typename Table<T>::Entry{std::move(object), serial});
            } catch (...) {
                t.inOrder.erase(serial);
                throw;
            }
            return raw;
        }
        template <class T>
        T *add(std::unique_ptr<T> object) {
            return add(std::shared_ptr<T>(std::move(object)));
        }
        // Gives out the handle of an object owned elsewhere, until remove().
        template <class T>
        T *track(T *object) {
            return add(std::shared_ptr<T>(object, [](T *) {}));
        }
        // Ends a handle; the object goes with it unless someone else shares it. False for an
        // unknown handle.
        template <class T>
        bool remove(const void *handle) {
            auto &t = table<T>(registry_.tables_);
            auto it = t.byHandle.find(handle);
            if (it == t.byHandle.end()) return false;
            std::shared_ptr<T> object = std::move(it->second.object);
            t.inOrder.erase(it->second.serial);
            t.byHandle.erase(it);
            return true;
        }
        // Ends every handle of a kind, oldest first.
        template <class T>
        void clear() {
            auto &t = table<T>(registry_.tables_);
            while (!t.inOrder.empty()) remove<T>(t.inOrder.begin()->second);
        }
        template <class T>
        bool empty() const {
            return table<T>(registry_.tables_).inOrder.empty();
        }

    private:
        std::unique_lock<Lock> hold_;
        HandleRegistry &registry_;
    };

    Reader read() { return Reader(*this); }
    Writer write() { return Writer(*this); }

private:
    template <class T>
    static T *find(const Tables &tables, const void *handle) {
        auto &t = table<T>(tables);
        auto it = t.byHandle.find(handle);
        return it == t.byHandle.end() ? nullptr : it->second.object.get();
    }

    Lock lock_;
    Tables tables_;
    uint64_t next_ = 0;
};

}  // namespace host::util
