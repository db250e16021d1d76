// The virtual camera as bytes: its devices, item trees, properties and capabilities, and the
// fault plan, call counts and last calls, so that a camera in another process
// (FotexSimServer.exe) and the test's own copy can be kept alike between calls. Objects handed
// out, event registrations and hooks do not cross.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fotexsim.h"

namespace fotexsim {

std::string SaveImage(Camera& camera);

// Makes `camera` what the image says, in place: items that both have stay the same objects (so
// what holds one keeps it), items the image lacks are flagged deleted and taken off the tree
// (into `removed` when given, which keeps them alive), the image's new items are added. False,
// with the camera unchanged, when the bytes are no image.
bool LoadImage(Camera& camera, const std::string& image, std::vector<std::shared_ptr<Item>>* removed = nullptr);

}  // namespace fotexsim
