// A small catalogue for tests of the form:
//
//   Alpha (code 7)  V1.0-A  firmware F1.0, F1.1   codes 1, 0    slave ID "1", password "1", bin
//                   V2.0-B  firmware F2.0..F2.2   codes 1, 1    slave ID "0", password "0", abc
//   beta  (code 9)  B1      firmware G1           code 3        slave ID "2", password "2", bbin
#pragma once

#include "support/Workspace.h"

namespace tarvex::test {

inline ProductSpec AlphaProduct() {
    return {.name = "Alpha",
            .productCode = 7,
            .versions = {{.name = "V1.0-A",
                          .firmwareList = "F1.0,F1.1,",
                          .formatList = "1,0",
                          .frameSize = 128,
                          .frameSizeUsb = 512},
                         {.name = "V2.0-B",
                          .firmwareList = "F2.0,F2.1,F2.2",
                          .formatList = "1,1",
                          .frameSize = 256,
                          .frameSizeUsb = 1024,
                          .passwordSupport = "0",
                          .slaveIdSupport = "0",
                          .binExtension = "abc"}}};
}

inline ProductSpec BetaProduct() {
    return {.name = "beta",
            .productCode = 9,
            .versions = {{.name = "B1",
                          .firmwareList = "G1",
                          .formatList = "3",
                          .passwordSupport = "2",
                          .slaveIdSupport = "2",
                          .binExtension = "bbin"}}};
}

inline void AddStandardCatalogue(Workspace& ws) {
    ws.AddProduct(AlphaProduct());
    ws.AddProduct(BetaProduct());
}

}  // namespace tarvex::test
