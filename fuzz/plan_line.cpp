// Plan lines of every kind from any text. Input: byte 0 picks the kind, the rest is the line.
// Properties: a line that reads as a plan writes back to a line that reads as the same plan, and
// that line reads back to itself.
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "schedule/PlanFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int kind = data[0] % 4;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    PlanItem item;
    if (ParsePlanLine(kind, line, &item) != PlanLine::Ok) {
        return 0;
    }
    const std::string written = FormatPlanLine(kind, item);
    PlanItem again;
    fuzz::Check(ParsePlanLine(kind, written, &again) == PlanLine::Ok && again == item &&
                FormatPlanLine(kind, again) == written);
    return 0;
}
