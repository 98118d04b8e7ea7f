// SPDX-License-Identifier: Apache-2.0
#include "instance/plugin_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vparam/vparam.h"

namespace velmora {

namespace {

const LWBlockIdent kLibBlock[] = {{kBlockPDLB, "PluginDataLib"}, {0, nullptr}};
const LWBlockIdent kParamBlock[] = {{kBlockPDPR, "PluginDataParam"}, {0, nullptr}};

constexpr int kNameCapacity = 512;

// A double as its eight IEEE-754 bytes, most significant first.
void doubleToBytes(double value, unsigned char bytes[8]) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
}

double bytesToDouble(const unsigned char bytes[8]) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | bytes[i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A PVEV row holds count pairs of words; the second of each pair names a Vparam.
Vparam *pairedVparam(void *data, int i) { return reinterpret_cast<Vparam **>(data)[2 * i + 1]; }

void savePayload(const LWSaveState *save, const PluginDataEntry &row) {
    void *w = save->writeData;
    switch (row.type) {
        case kTypePBIN:
            save->writeU1(w, static_cast<const unsigned char *>(row.data), row.count);
            break;
        case kTypePDBL:
            for (int i = 0; i < row.count; ++i) {
                unsigned char bytes[8];
                doubleToBytes(static_cast<const double *>(row.data)[i], bytes);
                save->writeU1(w, bytes, 8);
            }
            break;
        case kTypePFLT:
            save->writeFP(w, static_cast<const float *>(row.data), row.count);
            break;
        case kTypePINT:
            save->writeI4(w, static_cast<const int *>(row.data), row.count);
            break;
        case kTypePSTR:
            save->writeStr(w, static_cast<const char *>(row.data));
            break;
        case kTypePUNT:
            save->writeU4(w, static_cast<const unsigned int *>(row.data), row.count);
            break;
        case kTypePUSR:
            if (row.save) row.save(save, row.data);
            break;
        case kTypePVEV:
            for (int i = 0; i < row.count; ++i)
                if (Vparam *vp = pairedVparam(row.data, i)) vparamSave(vp, save);
            break;
        case kTypePVPR:
            for (int i = 0; i < row.count; ++i) vparamSave(static_cast<Vparam *>(row.data) + i, save);
            break;
        case kTypePVTX:
            for (int i = 0; i < row.count; ++i) textureParamSave(static_cast<TextureParam *>(row.data) + i, save);
            break;
        default:
            break;
    }
}

// Reads count values into scratch space and stores them only when the whole read succeeded, so
// a value cut short in the file keeps what the field held (the host clears a failed read's output).
template <typename T, typename Read>
void readWhole(const LWLoadState *load, void *data, int count, Read read) {
    if (count <= 0) return;
    std::vector<T> scratch(static_cast<size_t>(count));
    if (read(load->readData, scratch.data(), count) == count)
        std::copy(scratch.begin(), scratch.end(), static_cast<T *>(data));
}

void loadPayload(const LWLoadState *load, const PluginDataEntry &row) {
    void *r = load->readData;
    switch (row.type) {
        case kTypePBIN:
            readWhole<unsigned char>(load, row.data, row.count, load->readU1);
            break;
        case kTypePDBL:
            // A double whose eight bytes are not all there keeps its value.
            for (int i = 0; i < row.count; ++i) {
                unsigned char bytes[8];
                if (load->readU1(r, bytes, 8) != 8) break;
                static_cast<double *>(row.data)[i] = bytesToDouble(bytes);
            }
            break;
        case kTypePFLT:
            readWhole<float>(load, row.data, row.count, load->readFP);
            break;
        case kTypePINT:
            readWhole<int>(load, row.data, row.count, load->readI4);
            break;
        case kTypePSTR:
            if (row.count > 0) {
                std::vector<char> text(static_cast<size_t>(row.count), '\0');
                if (load->readStr(r, text.data(), row.count) >= 0)
                    std::copy(text.begin(), text.end(), static_cast<char *>(row.data));
            }
            break;
        case kTypePUNT:
            readWhole<unsigned int>(load, row.data, row.count, load->readU4);
            break;
        case kTypePUSR:
            if (row.load) row.load(load, row.data);
            break;
        case kTypePVEV:
            for (int i = 0; i < row.count; ++i)
                if (Vparam *vp = pairedVparam(row.data, i)) vparamLoad(vp, load);
            break;
        case kTypePVPR:
            for (int i = 0; i < row.count; ++i) vparamLoad(static_cast<Vparam *>(row.data) + i, load);
            break;
        case kTypePVTX:
            for (int i = 0; i < row.count; ++i) textureParamLoad(static_cast<TextureParam *>(row.data) + i, load);
            break;
        default:
            break;
    }
}

const PluginDataEntry *findRow(const PluginDataEntry *table, const char *name, LWID type) {
    for (const PluginDataEntry *row = table; row->name; ++row)
        if (row->type == type && std::strcmp(row->name, name) == 0) return row;
    return nullptr;
}

}  // namespace

void pluginDataSave(const LWSaveState *save, const PluginDataEntry *table) {
    if (!save || !table) return;
    int n = 0;
    for (const PluginDataEntry *row = table; row->name; ++row)
        if (row->data) ++n;

    save->beginBlk(save->writeData, kLibBlock, 0);
    save->writeI4(save->writeData, &n, 1);
    for (const PluginDataEntry *row = table; row->name; ++row) {
        if (!row->data) continue;
        save->beginBlk(save->writeData, kParamBlock, 0);
        save->writeStr(save->writeData, row->name);
        const unsigned int type = row->type;
        save->writeU4(save->writeData, &type, 1);
        savePayload(save, *row);
        save->endBlk(save->writeData);
    }
    save->endBlk(save->writeData);
}

void pluginDataLoad(const LWLoadState *load, const PluginDataEntry *table) {
    if (!load || !table) return;
    void *r = load->readData;
    if (load->findBlk(r, kLibBlock) == kBlockPDLB) {
        int n = 0;
        if (load->readI4(r, &n, 1) != 1) n = 0;
        // The count comes from the file: the entries themselves bound the loop, which stops at the
        // first one missing.
        for (int i = 0; i < n; ++i) {
            if (load->findBlk(r, kParamBlock) != kBlockPDPR) {
                load->endBlk(r);
                break;
            }
            char name[kNameCapacity] = {};
            unsigned int type = 0;
            const int nameRead = load->readStr(r, name, kNameCapacity);
            const int typeRead = load->readU4(r, &type, 1);
            if (nameRead > 0 && typeRead > 0) {
                const PluginDataEntry *row = findRow(table, name, type);
                if (row && row->data) loadPayload(load, *row);
            }
            load->endBlk(r);
        }
    }
    load->endBlk(r);
}

}  // namespace velmora
