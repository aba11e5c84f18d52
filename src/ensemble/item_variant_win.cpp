#include "ensemble/item_variant_win.h"

#include "common/com_boundary_win.h"
#include "common/text_win.h"
#include "common/win_raii_win.h"
#include "ensemble/item_variant.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace hyd {

namespace {

struct destroy_array {
    void operator()(SAFEARRAY* a) const { SafeArrayDestroy(a); }
};
// An array not yet handed to the caller.
using unique_array = unique_resource<SAFEARRAY*, destroy_array>;

VARTYPE vt_of(variant_type t) {
    switch (t) {
    case variant_type::empty:
        break;
    case variant_type::ui1:
        return VT_UI1;
    case variant_type::i2:
        return VT_I2;
    case variant_type::i4:
        return VT_I4;
    case variant_type::r8:
        return VT_R8;
    case variant_type::bstr:
        return VT_BSTR;
    }
    return VT_EMPTY;
}

template <class T> void copy_values(const item_variant& v, void* data) {
    std::copy(v.values.begin(), v.values.end(), static_cast<T*>(data));
}

HRESULT make_array(const item_variant& v, SAFEARRAY** out) {
    std::vector<SAFEARRAYBOUND> bounds;
    for (const int count : v.dims) bounds.push_back({static_cast<ULONG>(count), 1});
    unique_array array(
        SafeArrayCreate(vt_of(v.type), static_cast<UINT>(bounds.size()), bounds.data()));
    if (!array) return E_OUTOFMEMORY;
    void* data = nullptr;
    if (const HRESULT hr = SafeArrayAccessData(array.get(), &data); FAILED(hr)) return hr;
    if (v.type == variant_type::ui1)
        copy_values<BYTE>(v, data);
    else if (v.type == variant_type::i2)
        copy_values<SHORT>(v, data);
    else
        copy_values<LONG>(v, data);
    SafeArrayUnaccessData(array.get());
    *out = array.release();
    return S_OK;
}

// Fills a VT_EMPTY variant; on failure it stays VT_EMPTY.
HRESULT to_variant(const item_variant& v, VARIANT* pv) {
    if (!v.dims.empty()) {
        SAFEARRAY* array = nullptr;
        if (const HRESULT hr = make_array(v, &array); FAILED(hr)) return hr;
        V_ARRAY(pv) = array;
        V_VT(pv) = static_cast<VARTYPE>(VT_ARRAY | vt_of(v.type));
        return S_OK;
    }
    switch (v.type) {
    case variant_type::empty:
        return S_OK;
    case variant_type::ui1:
        V_UI1(pv) = static_cast<BYTE>(v.values[0]);
        break;
    case variant_type::i2:
        V_I2(pv) = static_cast<SHORT>(v.values[0]);
        break;
    case variant_type::i4:
        V_I4(pv) = v.values[0];
        break;
    case variant_type::r8:
        V_R8(pv) = v.real;
        break;
    case variant_type::bstr:
        if (const HRESULT hr = to_bstr(v.text, &V_BSTR(pv)); FAILED(hr)) return hr;
        break;
    }
    V_VT(pv) = vt_of(v.type);
    return S_OK;
}

// String `id` of this module's string table.
HRESULT load_text(long id, BSTR* out) {
    std::wstring text;
    if (!load_module_text(id, text)) return E_INVALIDARG;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

} // namespace

HRESULT get_item_variant(const CSNBasePersist& holder, long item, VARIANT* pv) {
    if (!pv) return E_POINTER;
    VariantInit(pv);
    return com_call([&]() -> HRESULT {
        item_variant v;
        const HRESULT hr = get_item_variant(holder, item, &v);
        return FAILED(hr) ? hr : to_variant(v, pv);
    });
}

HRESULT get_item_labels(const CSNBasePersist& holder, long item, VARIANT* pv) {
    if (!pv) return E_POINTER;
    VariantInit(pv);
    return com_call([&]() -> HRESULT {
        item_labels labels;
        if (const HRESULT hr = get_item_labels(holder, item, &labels); FAILED(hr)) return hr;
        if (labels.count == 0) return S_OK;
        if (labels.count == 1) {
            if (FAILED(load_text(labels.first, &V_BSTR(pv)))) return E_FAIL;
            V_VT(pv) = VT_BSTR;
            return S_OK;
        }
        unique_array array(SafeArrayCreateVector(VT_BSTR, 1, static_cast<ULONG>(labels.count)));
        if (!array) return E_OUTOFMEMORY;
        for (LONG i = 0; i < labels.count; ++i) {
            unique_bstr text;
            if (FAILED(load_text(labels.first + i, text.put()))) return E_FAIL;
            LONG at = i + 1;
            if (FAILED(SafeArrayPutElement(array.get(), &at, text.get()))) return E_FAIL;
        }
        V_ARRAY(pv) = array.release();
        V_VT(pv) = static_cast<VARTYPE>(VT_ARRAY | VT_BSTR);
        return S_OK;
    });
}

HRESULT get_resource_text(long id, VARIANT* pv) {
    if (!pv) return E_POINTER;
    return com_call([&]() -> HRESULT {
        BSTR text = nullptr;
        if (const HRESULT hr = load_text(id, &text); FAILED(hr)) return hr;
        VariantInit(pv);
        V_BSTR(pv) = text;
        V_VT(pv) = VT_BSTR;
        return S_OK;
    });
}

HRESULT to_variant_array(const VARIANT& in, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = com_call([&]() -> HRESULT {
        if (const HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&in)); FAILED(hr))
            return hr;
        const auto element = static_cast<VARTYPE>(V_VT(&copy) & ~VT_ARRAY);
        if (!(V_VT(&copy) & VT_ARRAY) || element == VT_VARIANT) {
            *out = copy;
            V_VT(&copy) = VT_EMPTY;
            return S_OK;
        }
        SAFEARRAY* from = V_ARRAY(&copy);
        if (element == VT_RECORD || element == VT_DECIMAL) return DISP_E_TYPEMISMATCH;
        const UINT size = SafeArrayGetElemsize(from); // at most 8 bytes: fits the VARIANT union
        std::vector<SAFEARRAYBOUND> bounds;
        std::size_t count = 1;
        for (UINT d = 1; d <= SafeArrayGetDim(from); ++d) {
            LONG low = 0, high = 0;
            SafeArrayGetLBound(from, d, &low);
            SafeArrayGetUBound(from, d, &high);
            bounds.push_back({static_cast<ULONG>(high - low + 1), low});
            count *= bounds.back().cElements;
        }
        unique_array to(
            SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data()));
        if (!to) return E_OUTOFMEMORY;
        void* source = nullptr;
        void* target = nullptr;
        if (FAILED(SafeArrayAccessData(from, &source))) return E_FAIL;
        HRESULT made = SafeArrayAccessData(to.get(), &target);
        for (std::size_t k = 0; k < count && SUCCEEDED(made); ++k) {
            VARIANT item{};
            V_VT(&item) = element;
            std::memcpy(&V_UI1(&item), static_cast<const BYTE*>(source) + k * size, size);
            made = VariantCopy(static_cast<VARIANT*>(target) + k, &item);
        }
        if (target) SafeArrayUnaccessData(to.get());
        SafeArrayUnaccessData(from);
        if (FAILED(made)) return made;
        V_ARRAY(out) = to.release();
        V_VT(out) = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
        return S_OK;
    });
    VariantClear(&copy);
    return hr;
}

} // namespace hyd
