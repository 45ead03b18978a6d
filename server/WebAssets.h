// The control page's files (HTML, CSS, JavaScript), built into the program from server/web/ so
// that the page needs nothing beyond the service: venues often have no internet. No Qt here.
#pragma once

#include <string_view>

namespace server {

struct WebAsset {
    std::string_view body;
    std::string_view contentType;  // with its charset where it is text
};

// The file served at path ("/" is the page itself, "/index.html"); nullptr for any other path.
// A query string or fragment is not part of path.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace server
