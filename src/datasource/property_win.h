// The entries EnumItems hands out: CHyProperty, one item or element with its display attributes
// (fixed at construction), and CHyEnumProperty, the enumerator over an array of them. Reference
// counts are plain counters starting at 0; an enumerator counts as a live object of the module
// while it exists.
#pragma once

#include "datasource/properties.h"
#include "hyd.h"

#include <cstddef>
#include <memory>

class CHyProperty final : public IHyProperty {
  public:
    explicit CHyProperty(const hyd::item_property& p);
    ~CHyProperty();
    CHyProperty(const CHyProperty&) = delete;
    CHyProperty& operator=(const CHyProperty&) = delete;

    long DataType() const { return m_p.mask; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetSequence(long* pnSequence) override;
    STDMETHODIMP GetItem(long* pnItem) override;
    STDMETHODIMP GetIndex(long* pnIndex) override;
    STDMETHODIMP GetDescription(BSTR* pbstrDesc) override;
    STDMETHODIMP GetDataType(long* pnDataType) override;
    STDMETHODIMP GetSourceClassID(CLSID* pClassID) override;
    STDMETHODIMP GetUnits(SIZE* psUnits) override;
    STDMETHODIMP GetMinMax(POINTL* pptAbsMin, POINTL* pptAbsMax, POINTL* pptDefMin,
                           POINTL* pptDefMax) override;
    STDMETHODIMP GetBadVal(long* bxBad, long* byBad, POINTL* pptBadVal) override;
    STDMETHODIMP GetAxisDir(POINTL* pptDir) override;
    STDMETHODIMP GetDecimalShift(POINTL* pptShift) override;

  private:
    hyd::item_property m_p;
    BSTR m_description = nullptr;
    LONG m_cRef = 0; // objects of a "both" class: counted atomically
};

class CHyEnumProperty final : public IEnumHyProperty {
  public:
    // Takes over the entries and the one reference each holds; releases them at the end.
    CHyEnumProperty(std::unique_ptr<IHyProperty*[]> entries, std::size_t count);
    ~CHyEnumProperty();
    CHyEnumProperty(const CHyEnumProperty&) = delete;
    CHyEnumProperty& operator=(const CHyEnumProperty&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG celt, IHyProperty** rgelt, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumHyProperty** ppenum) override;

  private:
    // A clone: shares the array that `owner` keeps alive.
    CHyEnumProperty(IHyProperty* const* entries, std::size_t count, std::size_t position,
                    IUnknown* owner);

    std::unique_ptr<IHyProperty*[]> m_owned; // set when this enumerator owns the array
    IHyProperty* const* m_entries = nullptr;
    std::size_t m_count = 0;
    std::size_t m_position = 0;
    IUnknown* m_owner = nullptr; // one reference, on the enumerator that owns the array
    LONG m_cRef = 0;             // objects of a "both" class: counted atomically
};
