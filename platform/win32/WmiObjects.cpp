#include "WmiObjects.h"

#include "kva/platform/Text.h"

namespace plat::win32 {

std::string VariantText(VARIANT* v) {
    if (v->vt == VT_NULL || v->vt == VT_EMPTY) return {};
    if (v->vt == VT_BSTR) return ToUtf8(v->bstrVal ? v->bstrVal : L"");
    VARIANT text;
    ::VariantInit(&text);
    std::string out;
    if (SUCCEEDED(::VariantChangeType(&text, v, VARIANT_ALPHABOOL, VT_BSTR)) && text.bstrVal) {
        out = ToUtf8(text.bstrVal);
    }
    ::VariantClear(&text);
    return out;
}

}  // namespace plat::win32
