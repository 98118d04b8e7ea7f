// SPDX-License-Identifier: Apache-2.0
// The host's panel service ("LWXPanel") and a model of each panel that the host can print and
// drive without drawing anything.
//
// A panel keeps copies of its control and data-description tables, the get and set callbacks,
// the viewed instance, per-id user data, and what its hints said: labels, groups, tab sets and
// dependencies (XPTAG_ENABLE: a governing control enables its dependants while its integer value
// is non-zero). Hint lists are read word by word with a bound on their length; a tag this host
// does not know ends the reading of that list, since its arguments cannot be counted, and is
// reported by print(). Main thread only.
#pragma once

#include <string>
#include <vector>

#include "sdk/xpanel.h"

namespace host::panel {

const LWXPanelFuncs *xpanelFuncs();

bool isPanel(LWXPanelID panel);
std::vector<LWXPanelID> panels();  // live panels, oldest first

// The panel as text: title, tab sets with their pages, groups, and one line per control with its
// id, label, control class and current value (variant parameters at `time`, with [env] / [tex]
// for enveloped or textured ones), then the dependencies. Empty for an unknown panel.
std::string print(LWXPanelID panel, double time = 0);

struct SetOutcome {
    bool ok = false;
    int refresh = LWXPRC_NONE;  // what the set callback answered
    std::string message;        // why it failed
};

// Sets the control whose data-description name is `name` from text: a string as is, an integer
// or a number, three numbers for a colour, and for a variant parameter its one or three
// components through LWVParmFuncs (the set callback is then told with the parameter's id).
SetOutcome setControl(LWXPanelID panel, const std::string &name, const std::string &value);

// A panel's structure and current values, for hosts that draw it themselves.
struct ControlInfo {
    unsigned int id = 0;
    std::string label, ctrlClass;  // from the control table
    std::string name, type;        // from the data description (empty when it has none)
    bool hasValue = false;
    std::vector<double> numbers;  // a number, an integer or a triple's components
    std::string text;             // a string's value
    bool enveloped = false, textured = false;
    bool enabled = true;  // false while a governing control's value is zero
};
struct GroupInfo {
    unsigned int id = 0;
    std::string label;
    std::vector<unsigned int> members;
};
struct PanelInfo {
    std::string title;
    std::vector<GroupInfo> tabSets;  // members: the pages, each a group
    std::vector<GroupInfo> groups;
    std::vector<ControlInfo> controls;  // in the control table's order
    std::vector<std::pair<unsigned int, std::vector<unsigned int>>> enables;
    std::vector<std::string> errors;
};
// False for an unknown panel. Values of variant parameters are read at `time`.
bool describe(LWXPanelID panel, PanelInfo &out, double time = 0);

// What the hints said, for checks.
std::string label(LWXPanelID panel, unsigned int id);  // empty when none
std::vector<unsigned int> groupMembers(LWXPanelID panel, unsigned int group);
std::vector<unsigned int> dependants(LWXPanelID panel, unsigned int governing);
std::vector<std::string> hintErrors(LWXPanelID panel);

void clearAll();

}  // namespace host::panel
