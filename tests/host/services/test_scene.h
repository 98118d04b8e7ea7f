// SPDX-License-Identifier: Apache-2.0
// A small scene built in code for the scene-service tests, and helpers shared by them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/scene/scene.h"

namespace scenesvc_test {

// Objects "Body" (layers 1 and 3, weight map "wm", two bones) and "Floor" (one bone); lights
// "Key" (point), "Spot" (spot with projection image 0) and "Sun" (distant); camera "Camera";
// surfaces "Skin" and "Ground"; images "checker" (4 x 2) and "grey" (2 x 2).
struct TestScene {
    host::scene::Scene scene;
    host::scene::ObjectItem *body = nullptr, *floor = nullptr;
    host::scene::LightItem *key = nullptr, *spot = nullptr, *sun = nullptr;
    host::scene::CameraItem *camera = nullptr;
    host::scene::BoneItem *bone1 = nullptr, *bone2 = nullptr, *bone3 = nullptr;
};
std::unique_ptr<TestScene> makeScene();

// A directory under the system's temporary folder, removed with its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string &file) const { return dir_ + "/" + file; }

private:
    std::string dir_;
};

}  // namespace scenesvc_test
