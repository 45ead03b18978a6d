// The control page's files, built into the program. No Qt here.
#pragma once

#include <string_view>

namespace server {

struct WebAsset {
    std::string_view body;
    std::string_view contentType;  // with its charset where it is text
};

// The file served at path ("/" is the page itself, "/index.html"); nullptr for any other path.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace server
