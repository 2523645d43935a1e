// Stand-ins for the messaging platform's free functions, linked only while the
// platform library is not part of the build.
#include "platform/messaging/mapi.h"

namespace qf::mapi {

HRESULT MAPIInitialize(const MapiInit*) {
    return S_OK;
}
void MAPIUninitialize() {}
HRESULT MAPILogonEx(std::uintptr_t, const char*, const char*, std::uint32_t,
                    std::shared_ptr<IMAPISession>& session) {
    session.reset();
    return MAPI_E_LOGON_FAILED;
}

HRESULT HrGetOneProp(IMAPIProp& object, PropTag tag, std::optional<PropValue>& value) {
    value.reset();
    std::vector<PropValue> values;
    const PropTagArray tags{tag};
    const HRESULT hr = object.GetProps(&tags, 0, values);
    if (Failed(hr)) {
        return hr;
    }
    if (values.empty() || PROP_TYPE(values[0].tag) == PT_ERROR) {
        return MAPI_E_NOT_FOUND;
    }
    value = values[0];
    return S_OK;
}

HRESULT HrSetOneProp(IMAPIProp& object, const PropValue& value) {
    return object.SetProps({value}, nullptr);
}

HRESULT HrQueryAllRows(IMAPITable& table, const PropTagArray* columns, const SortOrderSet* sort,
                       std::int32_t, RowSet& rows) {
    rows.clear();
    HRESULT hr = S_OK;
    if (columns != nullptr && Failed(hr = table.SetColumns(*columns, 0))) {
        return hr;
    }
    if (sort != nullptr && Failed(hr = table.SortTable(*sort, 0))) {
        return hr;
    }
    if (Failed(hr = table.SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) {
        return hr;
    }
    for (;;) {
        RowSet batch;
        if (Failed(hr = table.QueryRows(100, 0, batch))) {
            rows.clear();
            return hr;
        }
        if (batch.empty()) {
            return S_OK;
        }
        for (auto& r : batch) {
            rows.push_back(std::move(r));
        }
    }
}

HRESULT RTFSync(IMessage&, std::uint32_t, bool* updated) {
    if (updated != nullptr) {
        *updated = false;
    }
    return S_OK;
}

FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    const std::int64_t ticks = (seconds + 11644473600) * 10000000 + nanoseconds / 100;
    return FileTime{ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks)};
}

std::int64_t UnixFromFileTime(FileTime time) {
    return static_cast<std::int64_t>(time.ticks / 10000000) - 11644473600;
}

} // namespace qf::mapi
