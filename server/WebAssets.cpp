#include "server/WebAssets.h"

#include <map>
#include <string>

#include "server/WebAssetsData.h"

namespace server {
namespace {

std::string_view ContentType(std::string_view path) {
    static const std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
    };
    for (const auto& [ending, type] : kTypes)
        if (path.ends_with(ending))
            return type;
    return "application/octet-stream";
}

const std::map<std::string, WebAsset, std::less<>>& Assets() {
    static const auto assets = [] {
        std::map<std::string, WebAsset, std::less<>> table;
        for (std::size_t i = 0; i < kEmbeddedWebFileCount; ++i) {
            const EmbeddedWebFile& file = kEmbeddedWebFiles[i];
            table.emplace(std::string(file.path), WebAsset{file.body, ContentType(file.path)});
        }
        return table;
    }();
    return assets;
}

}  // namespace

const WebAsset* FindWebAsset(std::string_view path) {
    if (path == "/")
        path = "/index.html";
    const auto& assets = Assets();
    const auto found = assets.find(path);
    return found == assets.end() ? nullptr : &found->second;
}

}  // namespace server
