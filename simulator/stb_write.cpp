// The one translation unit that compiles stb_image_write; its own warnings are silenced here only.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include "sim_internal.h"

namespace fotexsim {

namespace {

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    auto* bytes = static_cast<unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

bool EncodeBmp(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb) {
    out.clear();
    return stbi_write_bmp_to_func(Append, &out, w, h, 3, rgb) != 0;
}

bool EncodePng(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb) {
    out.clear();
    return stbi_write_png_to_func(Append, &out, w, h, 3, rgb, w * 3) != 0;
}

bool EncodeJpeg(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb) {
    out.clear();
    return stbi_write_jpg_to_func(Append, &out, w, h, 3, rgb, 90) != 0;
}

}  // namespace fotexsim
