// SPDX-License-Identifier: Apache-2.0
// A shader setting as a scene file, an overlay, a preset, a look-development request or the
// command line gives it: a data name and a typed value, read where it comes in. Which values a
// setting takes depends on the control it names, which only the shader's panel knows, so the
// value keeps its shape as given and the panel's code (host/plugin) checks it when applying it.
// A texture is read against the scene's images when the setting is read; what is wrong in it, or
// in the shape of a key list, is kept with the value and reported only where a control would
// read it, so that every refusal names the same place as it would had the value been read then.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace host::scene {

struct TextureSpec;

// What is wrong with a part of a value: the part's path below the setting's own path ("" for the
// value itself, "/keys/2", ...) and the message.
struct SettingFault {
    std::string path;
    std::string message;
    bool empty() const { return message.empty(); }
};

struct SettingValue {
    enum class Kind {
        Null,      // null
        Flag,      // true or false
        Number,    // a number
        Text,      // a string
        List,      // [a, b, c]: a colour's or a vector's components, each a number or an envelope
        Envelope,  // {"keys": [[seconds, value], ...], "spline": bool}
        Textured,  // {"texture": {"layers": [...]}, "value": V}: a texture over an optional value
        Object,    // any other object
    };
    Kind kind = Kind::Null;
    bool flag = false;
    double number = 0;      // Number
    bool whole = false;     // Number: written without a fraction or exponent
    long long integer = 0;  // Number: the whole value, when `whole`
    std::string text;       // Text
    // List: the components. Envelope: the key list's entries ([time, value] pairs as given), when
    // `keyList`. Textured: the value under the texture, when given (one item).
    std::vector<SettingValue> items;
    bool keyList = false;  // Envelope: "keys" is an array
    bool spline = false;   // Envelope: a Catmull-Rom spline through the keys, else straight
    // Envelope and Textured: a field the form does not take, or (Envelope) a "spline" that is not
    // true or false; refused where the form is read.
    SettingFault fault;
    // Textured: the texture, its paths below the setting's ("/texture/layers/0"), or why it was
    // refused (the path below the setting's, from "/texture").
    std::shared_ptr<const TextureSpec> texture;
    SettingFault textureFault;

    // "a number", "an array", ...: how refusals name what they found.
    std::string kindName() const;

    static SettingValue ofNumber(double v);
    static SettingValue ofWhole(long long v);
    static SettingValue ofFlag(bool v);
    static SettingValue ofText(std::string v);
    static SettingValue ofList(std::vector<SettingValue> items);
};

// One setting: the control's data name and the value.
struct ShaderSetting {
    std::string name;
    SettingValue value;
    // Where it was given, for messages, when not in the scene file (a preset): that file and the
    // JSON path of its value. Empty: the scene file.
    std::string givenIn = {}, givenAt = {};
};

}  // namespace host::scene
