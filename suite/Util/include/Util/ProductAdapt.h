// The machine's model as its firmware reports it (SMBIOS system product name).
#pragma once

#include <string>

namespace ProductAdapt {

class MachineType {
public:
    enum : int { kOk = 0, kNoProductName = 1 };

    static MachineType* GetInstance();

    // Fills `name` with the product name; kOk, or kNoProductName when the machine reports none
    // (`name` is then empty). Any thread.
    int GetProductName(std::wstring& name);

private:
    MachineType() = default;
};

}  // namespace ProductAdapt
