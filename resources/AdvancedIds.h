// Control identifiers of the output resolution dialog (dialog 155), as its template numbers them.
#pragma once

namespace advids {

enum Id {
    kList = 1075,    // output resolution, entries = codes 0..16
    kGroup = 1230,   // around the list and the custom fields
    kWidth = 1032,   // custom width
    kHeight = 1036,  // custom height
    kRate = 1045,    // custom field rate in Hz
    kWidthLabel = 1308,
    kHeightLabel = 1309,
    kRateLabel = 1310,
    kSave = 1001,  // sends the custom resolution
    kOk = 1,       // closes the dialog, also during a wait
};

}  // namespace advids
