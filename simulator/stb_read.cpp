// The one translation unit that compiles stb_image, for the folder camera's thumbnails; its own
// warnings are silenced here only.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include <stb/stb_image.h>

#include "sim_internal.h"

namespace fotexsim {

bool DecodePicture(const std::vector<unsigned char>& file, std::vector<unsigned char>& rgb, int* w, int* h) {
    if (file.empty() || file.size() > 0x7FFFFFFF) return false;
    int channels = 0;
    unsigned char* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), w, h, &channels, 3);
    if (!pixels) return false;
    rgb.assign(pixels, pixels + static_cast<size_t>(*w) * *h * 3);
    stbi_image_free(pixels);
    return *w > 0 && *h > 0;
}

}  // namespace fotexsim
