// SPDX-License-Identifier: Apache-2.0
// Where a fault in an input lies and what it is: one type for every reader (JSON scenes and
// overlays, host scene files, mesh files and OBJ text, presets) and the settings code, so that
// every refusal names its file and place the same way.
#pragma once

#include <string>

namespace host::util {

// A place in an input: the file (or the label the input is known by, such as
// `mesh file "PATH"`), and a line with or without a column, or a JSON path, or neither (the input
// as a whole).
struct FileLoc {
    std::string file;
    long long line = -1;    // from 1 (0 before the first line); -1 when not known
    long long column = -1;  // from 1; -1 when not known (or the line is not)
    std::string path;       // a JSON path ("/surfaces/0/name"); empty for none

    static FileLoc atPath(std::string file, std::string path) {
        return {std::move(file), -1, -1, std::move(path)};
    }
    static FileLoc ofFile(std::string file) { return {std::move(file), -1, -1, {}}; }
    static FileLoc atLine(std::string file, long long line, long long column = -1) {
        return {std::move(file), line, column, {}};
    }
};

// A refusal: where, and what is wrong. Readers throw it or hand it back; text() is the message the
// program prints:
//   FILE: PATH: MESSAGE                a JSON path
//   FILE: line L, column C: MESSAGE    a line and column
//   FILE, line L: MESSAGE              a line
//   FILE: MESSAGE                      the file as a whole
//   FILE MESSAGE                       the same, the message going on from the file's name as a
//                                      sentence (`mesh file "x.ply" has no polygons`)
//   MESSAGE                            no file (the message names it itself)
struct Diagnostic {
    FileLoc loc;
    std::string message;
    bool sentence = false;

    bool empty() const { return message.empty(); }
    std::string text() const;

    // The same fault in another file (or label): a part read for a larger input.
    Diagnostic in(std::string file) const {
        Diagnostic d = *this;
        d.loc.file = std::move(file);
        return d;
    }

    static Diagnostic at(FileLoc loc, std::string message) { return {std::move(loc), std::move(message), false}; }
    // A fault of a file as a whole, told as a sentence about it.
    static Diagnostic of(std::string file, std::string predicate) {
        return {FileLoc{std::move(file), -1, -1, {}}, std::move(predicate), true};
    }
    // A message that names its file itself.
    static Diagnostic plain(std::string message) { return {FileLoc{}, std::move(message), false}; }
};

}  // namespace host::util
