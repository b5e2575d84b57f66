#include "Util/ProductAdapt.h"

#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace ProductAdapt {

MachineType* MachineType::GetInstance() {
    static MachineType instance;
    return &instance;
}

int MachineType::GetProductName(std::wstring& name) {
    name = plat::FromUtf8(plat::ProductName());
    return name.empty() ? kNoProductName : kOk;
}

}  // namespace ProductAdapt
