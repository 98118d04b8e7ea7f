// SPDX-License-Identifier: Apache-2.0
// "LW Item Info 3" over the scene's items: lists by kind (bones by object), hierarchy, names,
// the twelve item parameters from the scene model's evaluation, and the free tag lines.
#include "host/services/scene_services.h"
#include "host/services/scene_state.h"

namespace host::services {

namespace {

LWItemID itemFirst(LWItemType type, LWItemID parent) {
    const SceneState *s = current();
    if (!s) return nullptr;
    if (type == LWI_BONE) {
        if (!findObject(*s, parent)) return nullptr;
        auto it = s->firstBone.find(parent);
        return it == s->firstBone.end() ? nullptr : it->second;
    }
    if (type < LWI_OBJECT || type > LWI_CAMERA) return nullptr;
    return s->firstOfKind[type];
}

LWItemID itemNext(LWItemID item) {
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    return e ? e->next : nullptr;
}

LWItemID itemParent(LWItemID item) {
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    return e ? static_cast<LWItemID>(e->item->parent) : nullptr;
}

LWItemType itemType(LWItemID item) {
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    return e ? e->type : LWI_NONE;
}

const char *itemName(LWItemID item) {
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    return e ? e->item->name.c_str() : nullptr;
}

// An unknown item or parameter number gives the zero vector.
void itemParamAt(LWItemID item, LWItemParam param, LWTime time, LWDVector vec) {
    if (!vec) return;
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    scene::Vec3 v{0, 0, 0};
    if (e) v = scene::itemParam(*e->item, param, time);
    vec[0] = v[0];
    vec[1] = v[1];
    vec[2] = v[2];
}

const char *itemGetTag(LWItemID item, int tagNum) {
    const SceneState *s = current();
    const ItemEntry *e = s ? findItem(*s, item) : nullptr;
    if (!e || tagNum < 1 || static_cast<size_t>(tagNum) > e->item->tags.size()) return nullptr;
    return e->item->tags[static_cast<size_t>(tagNum) - 1].c_str();
}

// Every slot of the record is filled below; a slot added to the record must be added here too.
static_assert(sizeof(LWItemInfo) == 7 * sizeof(void (*)()), "LWItemInfo has 7 slots");

const LWItemInfo kItemInfo = {
    itemFirst,    // first
    itemNext,     // next
    itemParent,   // parent
    itemType,     // type
    itemName,     // name
    itemParamAt,  // param
    itemGetTag,   // getTag
};

}  // namespace

const LWItemInfo *itemInfoTable() { return &kItemInfo; }

}  // namespace host::services
