// The table of the page's files that the build generates from server/web/ (EmbedWebAssets.cmake);
// WebAssets.cpp serves from it.
#pragma once

#include <cstddef>
#include <string_view>

namespace server {

struct EmbeddedWebFile {
    std::string_view path;  // "/index.html"
    std::string_view body;
};

extern const EmbeddedWebFile kEmbeddedWebFiles[];
extern const std::size_t kEmbeddedWebFileCount;

}  // namespace server
