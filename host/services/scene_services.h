// SPDX-License-Identifier: Apache-2.0
// The scene-backed services a plug-in reads the scene through: "LW Item Info 3", "LW Light Info 3",
// "LW Object Info 4" (with its mesh records), "Scene Objects 4", "LW Image List 3",
// "Surface Functions 2" and "LW Backdrop Info 2".
//
// Identifiers are the addresses of the scene's own records (Item, Surface, Image, MeshPoint,
// MeshPolygon; see host/scene/scene.h), the same the renderer puts into shading access records.
// Every identifier a plug-in hands back is checked against the scene before it is followed, so a
// stale, foreign or pseudo identifier (LWITEM_RADIOSITY, LWITEM_CAUSTICS) gets the "none" answer
// of the call instead of being dereferenced.
//
// Threads: registration, time changes and withdrawal run on the main thread while no render
// thread runs; every table function may be called from any thread at any other time.
#pragma once

#include <functional>
#include <string>

#include "host/scene/scene.h"
#include "sdk/backdrop_info.h"
#include "sdk/image_list.h"
#include "sdk/item_info.h"
#include "sdk/light_info.h"
#include "sdk/object_info.h"
#include "sdk/scene_objects.h"
#include "sdk/surface_funcs.h"

namespace host::services {

// Indexes `scene` (which must outlive the registration) and registers the seven tables through
// registerService. A second call replaces the first scene; the time starts at 0.
void registerSceneServices(const scene::Scene &scene);

// The time in seconds at which frozen mesh records (LWObjectInfo::meshInfo with frozen set) give
// their points' world positions; the renderer sets it per frame before the plug-ins' new-time.
void setSceneServicesTime(double time);

// Unregisters the tables and frees what they made (images loaded through the image list, mip
// chains, channel-group records). Identifiers handed out before become unknown.
void withdrawSceneServices();

// Where the services report an image they could not load (one line naming the file and why).
// The default writes the line to stderr; null restores it.
void setSceneServicesMessageSink(std::function<void(const std::string &)> sink);

// The tables, also for host code and tests that call them directly.
const LWItemInfo *itemInfoTable();
const LWLightInfo *lightInfoTable();
const LWObjectInfo *objectInfoTable();
const LWObjectFuncs *objectFuncsTable();
const LWImageList *imageListTable();
const LWSurfaceFuncs *surfaceFuncsTable();
const LWBackdropInfo *backdropInfoTable();

// The image an image identifier names (a scene image or one loaded through the image list), or
// null when it names none.
const image::Image *imageFromID(LWImageID id);

// The weight-map handle of a name (what pntVLookup returns and pntVSelect takes), or null when no
// layer of the scene has a weight map of that name. Stable while the services are registered.
void *weightMapHandle(const std::string &name);

// The backdrop colour along a direction (normalised here): what LWBackdropInfo::backdrop answers.
void backdropAlong(const scene::Scene &scene, const double dir[3], double out[3]);

}  // namespace host::services
