// SPDX-License-Identifier: Apache-2.0
#include "host/scene/setting.h"

#include "host/scene/scene.h"

namespace host::scene {

std::string SettingValue::kindName() const {
    switch (kind) {
        case Kind::Null:
            return "null";
        case Kind::Flag:
            return "a boolean";
        case Kind::Number:
            return "a number";
        case Kind::Text:
            return "a string";
        case Kind::List:
            return "an array";
        default:
            return "an object";
    }
}

SettingValue SettingValue::ofNumber(double v) {
    SettingValue s;
    s.kind = Kind::Number;
    s.number = v;
    return s;
}

SettingValue SettingValue::ofWhole(long long v) {
    SettingValue s = ofNumber(static_cast<double>(v));
    s.whole = true;
    s.integer = v;
    return s;
}

SettingValue SettingValue::ofFlag(bool v) {
    SettingValue s;
    s.kind = Kind::Flag;
    s.flag = v;
    return s;
}

SettingValue SettingValue::ofText(std::string v) {
    SettingValue s;
    s.kind = Kind::Text;
    s.text = std::move(v);
    return s;
}

SettingValue SettingValue::ofList(std::vector<SettingValue> items) {
    SettingValue s;
    s.kind = Kind::List;
    s.items = std::move(items);
    return s;
}

const SettingValue *ShaderRef::setting(const std::string &name) const {
    for (const ShaderSetting &s : settings)
        if (s.name == name) return &s.value;
    return nullptr;
}

}  // namespace host::scene
