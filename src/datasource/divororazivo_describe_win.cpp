// DiVORorazivo's descriptions, dimensions, display extents and property entries: the portable
// tables and rules of descriptions.h and properties.h, reading items through the object's own
// GetLong and GetPoint and texts from the module's string table.
#include "common/com_boundary_win.h"
#include "common/date_time_format_win.h"
#include "common/string_resource_win.h"
#include "datasource/divororazivo_win.h"
#include "datasource/property_win.h"

namespace {

class object_source final : public hyd::item_source {
  public:
    explicit object_source(DiVORorazivo& object)
        : item_source(object.Ensemble()), object_(object) {}

    hyd::hresult read_long(hyd::item_value item, hyd::item_value index, hyd::item_value* values,
                           hyd::item_value max, hyd::item_value* actual) const override {
        return object_.GetLong(item, index, values, max, actual);
    }
    hyd::hresult read_points(hyd::item_value item, hyd::item_value index, hyd::item_point* points,
                             hyd::item_value max, hyd::item_value* actual) const override {
        return object_.GetPoint(item, index, reinterpret_cast<POINTL*>(points), max, actual);
    }
    bool text(int id, std::string* out) const override { return hyd::load_module_string(id, out); }

  private:
    DiVORorazivo& object_;
};

} // namespace

STDMETHODIMP DiVORorazivo::GetDimensions(long nItem, long nIndex, SIZE* psDim) {
    if (psDim == nullptr) return E_POINTER;
    return hyd::com_call([&]() -> HRESULT {
        return hyd::item_dimensions(object_source(*this), nItem, nIndex, &psDim->cx, &psDim->cy);
    });
}

STDMETHODIMP DiVORorazivo::GetMaxExtent(long nItem, long, HDC hdcDraw, SIZE* psExt) {
    if (psExt == nullptr) return E_POINTER;
    return hyd::com_call([&]() -> HRESULT {
        std::string sample;
        if (!hyd::extent_sample(nItem, hyd::windows_date_time_format(), &sample)) return E_FAIL;
        return GetTextExtentPoint32A(hdcDraw, sample.c_str(), static_cast<int>(sample.size()),
                                     psExt)
                   ? S_OK
                   : E_FAIL;
    });
}

void DiVORorazivo::DescribeElement(long nItem, long nIndex, std::vector<std::string>& strings) {
    strings.clear();
    strings = hyd::describe_element(object_source(*this), nItem, nIndex);
}

void DiVORorazivo::GetColumnHeadings(long nItem, long, std::vector<std::string>& strings) {
    strings.clear();
    strings = hyd::column_headings(object_source(*this), nItem);
}

void DiVORorazivo::GetRowHeadings(long nItem, long nIndex, std::vector<std::string>& strings) {
    strings.clear();
    strings = hyd::row_headings(object_source(*this), nItem, nIndex);
}

void DiVORorazivo::GetValueLabel(long nItem, long, std::vector<std::string>& strings) {
    strings.clear();
    strings = hyd::value_label(object_source(*this), nItem);
}

void DiVORorazivo::GetDepthLabel(long nItem, long, std::vector<std::string>& strings) {
    strings.clear();
    strings = hyd::depth_label(object_source(*this), nItem);
}

void DiVORorazivo::GetItemRange(long nItem, long nIndex, long, long* pFirst, long* pLast,
                                long* pCount) {
    const hyd::item_range range = hyd::get_item_range(object_source(*this), nItem, nIndex);
    *pFirst = range.first;
    *pLast = range.last;
    *pCount = range.count;
}

CHyProperty* DiVORorazivo::CreateProperty(long nSequence, long nItem, long nIndex, long nFlags,
                                          long nSubIndex, bool bSelf) {
    return new CHyProperty(hyd::make_property(object_source(*this), nSequence, nItem, nIndex,
                                              nFlags, nSubIndex, bSelf));
}
