#include "png_file.h"

#include <png.h>

bool write_png(const std::string &path, const rgb_picture &picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(),
                                            picture.width * 3, nullptr) != 0;
    png_image_free(&image);
    return ok;
}
