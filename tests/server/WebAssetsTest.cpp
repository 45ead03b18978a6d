#include "server/WebAssets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadSource(const std::string& name) {
    std::ifstream in(std::string(ORN312_SOURCE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each file of the page is served byte for byte as it stands in the sources, with its type; the
// root is the page; nothing else is served, whatever the path tries.
TEST(WebAssets, ServesThePageFilesAsTheyStandAndNothingElse) {
    struct Case {
        const char* path;
        const char* file;
        const char* type;
    };
    for (const Case& c : {Case{"/", "server/web/index.html", "text/html; charset=utf-8"},
                          Case{"/index.html", "server/web/index.html", "text/html; charset=utf-8"},
                          Case{"/page.css", "server/web/page.css", "text/css; charset=utf-8"},
                          Case{"/page.js", "server/web/page.js", "text/javascript; charset=utf-8"},
                          Case{"/icon.svg", "resources/orn312.svg", "image/svg+xml"}}) {
        SCOPED_TRACE(c.path);
        const server::WebAsset* asset = server::FindWebAsset(c.path);
        ASSERT_NE(asset, nullptr);
        const std::string source = ReadSource(c.file);
        ASSERT_FALSE(source.empty());
        EXPECT_EQ(asset->body, source);
        EXPECT_EQ(asset->contentType, c.type);
    }
    for (const char* path : {"", "index.html", "/nope.js", "/../CMakeLists.txt", "/web/page.js",
                             "/page.js/", "//", "/api/v1/state"})
        EXPECT_EQ(server::FindWebAsset(path), nullptr) << path;
}

}  // namespace
