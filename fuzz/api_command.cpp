// Commands of the HTTP API and the MQTT bridge from any body. Input: byte 0 picks the kind (or,
// past the last kind, a body that names its kind itself, as MQTT sends), the rest is the body.
// Properties: a body is either taken (200) with values the processor's frames can carry, or
// refused (400) with a reason; nothing else.
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "server/DeviceApi.h"

using server::Command;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int pick = data[0] % 7;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    Command command;
    const server::ApiResult result =
        pick < 6 ? server::ParseCommand(static_cast<Command::Kind>(pick), body, command)
                 : server::ParseCommand(body, command);
    fuzz::Check(result.status == 200 || result.status == 400);
    fuzz::Check((result.status == 400) == !result.error.empty());
    if (result.status == 200) {
        fuzz::Check(pick == 6 || command.kind == static_cast<Command::Kind>(pick));
        fuzz::Check(command.source >= -1 && command.source <= 8);
        fuzz::Check(!command.transition || (*command.transition >= 0 && *command.transition <= 3));
        const bool needsSource =
            command.kind == Command::Kind::Switch || command.kind == Command::Kind::Pre;
        fuzz::Check(!needsSource || command.source >= 0);
    }
    return 0;
}
