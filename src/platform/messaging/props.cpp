#include "platform/messaging/props.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace qf::mapi {

PropValue NotFound(PropTag tag) {
    return PropValue{PROP_TAG(PT_ERROR, PROP_ID(tag)), ErrorValue{MAPI_E_NOT_FOUND}};
}
PropValue MakeLong(PropTag tag, std::int32_t v) {
    return PropValue{tag, v};
}
PropValue MakeBool(PropTag tag, bool v) {
    return PropValue{tag, v};
}
PropValue MakeTime(PropTag tag, FileTime v) {
    return PropValue{tag, v};
}
PropValue MakeBinary(PropTag tag, Binary v) {
    return PropValue{tag, std::move(v)};
}
PropValue MakeText(PropTag tag, std::string v) {
    if (PROP_TYPE(tag) == PT_UNICODE) {
        return PropValue{tag, Utf8ToUtf16(v)};
    }
    return PropValue{tag, std::move(v)};
}

std::string TextOf(const PropValue& v) {
    if (auto* s = v.Text()) {
        return *s;
    }
    if (auto* w = v.TextW()) {
        return Utf16ToUtf8(*w);
    }
    return {};
}

PropValue FindProp(const std::vector<PropValue>& all, PropTag tag) {
    const auto id = PROP_ID(tag);
    const auto type = PROP_TYPE(tag);
    for (const auto& v : all) {
        if (PROP_ID(v.tag) != id || PROP_TYPE(v.tag) == PT_ERROR) {
            continue;
        }
        const auto have = PROP_TYPE(v.tag);
        if (type == PT_UNSPECIFIED || have == type) {
            return v;
        }
        if ((type == PT_UNICODE || type == PT_STRING8) &&
            (have == PT_UNICODE || have == PT_STRING8)) {
            return MakeText(tag, TextOf(v));
        }
    }
    return NotFound(tag);
}

HRESULT SelectProps(const std::vector<PropValue>& all, const PropTagArray* tags,
                    std::vector<PropValue>& out) {
    out.clear();
    if (tags == nullptr) {
        out = all;
        return S_OK;
    }
    bool missing = false;
    out.reserve(tags->size());
    for (PropTag t : *tags) {
        out.push_back(FindProp(all, t));
        missing = missing || PROP_TYPE(out.back().tag) == PT_ERROR;
    }
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

namespace {
int Rank(const PropValue& v) {
    return PROP_TYPE(v.tag) == PT_ERROR ? 0 : 1;
}
template <class T> int Cmp(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}
} // namespace

int CompareValues(const PropValue& a, const PropValue& b) {
    if (Rank(a) != Rank(b)) {
        return Rank(a) - Rank(b);
    }
    if (Rank(a) == 0) {
        return 0;
    }
    if (a.Long() && b.Long()) {
        return Cmp(*a.Long(), *b.Long());
    }
    if (a.Bool() && b.Bool()) {
        return Cmp(*a.Bool(), *b.Bool());
    }
    if (a.I8() && b.I8()) {
        return Cmp(*a.I8(), *b.I8());
    }
    if (a.Time() && b.Time()) {
        return Cmp(a.Time()->ticks, b.Time()->ticks);
    }
    if (a.Bin() && b.Bin()) {
        return Cmp(*a.Bin(), *b.Bin());
    }
    const std::string sa = ToLowerAscii(TextOf(a));
    const std::string sb = ToLowerAscii(TextOf(b));
    return Cmp(sa, sb);
}

HRESULT LastError::Set(HRESULT hr, std::string error, int sysErrno) {
    code_ = hr;
    error_ = std::move(error);
    errno_ = sysErrno;
    if (sysErrno != 0) {
        error_ += ": ";
        error_ += std::strerror(sysErrno);
    }
    if (mirror_ != nullptr) {
        mirror_->code_ = hr;
        mirror_->error_ = error_;
        mirror_->errno_ = errno_;
    }
    return hr;
}

HRESULT LastError::Get(HRESULT hr, std::optional<MapiErrorInfo>& info) const {
    info.reset();
    if (hr == code_ && Failed(hr) && !error_.empty()) {
        info = MapiErrorInfo{error_, component_, static_cast<std::uint32_t>(errno_)};
    }
    return S_OK;
}

HRESULT StaticSource::Values(std::size_t row, const PropTagArray& tags, Row& values) {
    values.clear();
    if (row >= rows_.size()) {
        return MAPI_E_INVALID_PARAMETER;
    }
    for (PropTag t : tags) {
        values.push_back(FindProp(rows_[row], t));
    }
    return S_OK;
}

namespace {

class SourceTable : public IMAPITable {
public:
    explicit SourceTable(std::shared_ptr<TableSource> source)
        : source_(std::move(source)), columns_(source_->DefaultColumns()) {
        error_.SetComponent(source_->Component());
    }

    HRESULT GetLastError(HRESULT hr, std::uint32_t flags,
                         std::optional<MapiErrorInfo>& info) override {
        if (flags & ~MAPI_UNICODE) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        return error_.Get(hr, info);
    }

    HRESULT SetColumns(const PropTagArray& columns, std::uint32_t /*flags*/) override {
        if (columns.empty()) {
            return error_.Set(MAPI_E_INVALID_PARAMETER, "No columns given");
        }
        columns_ = columns;
        prepared_ = false;
        return S_OK;
    }

    HRESULT SortTable(const SortOrderSet& order, std::uint32_t /*flags*/) override {
        EnsureOrder();
        if (order.empty()) {
            return S_OK;
        }
        PropTagArray keys;
        for (const auto& k : order) {
            if (k.order != TABLE_SORT_ASCEND && k.order != TABLE_SORT_DESCEND) {
                return error_.Set(MAPI_E_INVALID_PARAMETER, "Bad sort direction");
            }
            keys.push_back(k.tag);
        }
        source_->Prepare(keys);
        std::vector<Row> keyRows(order_.size());
        for (std::size_t i = 0; i < order_.size(); ++i) {
            HRESULT hr = source_->Values(i, keys, keyRows[i]);
            if (Failed(hr)) {
                return error_.Set(hr, "Cannot read the sort keys of row " + std::to_string(i));
            }
        }
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t k = 0; k < keys.size(); ++k) {
                int c = CompareValues(keyRows[a][k], keyRows[b][k]);
                if (c != 0) {
                    return order[k].order == TABLE_SORT_DESCEND ? c > 0 : c < 0;
                }
            }
            return false;
        });
        position_ = 0;
        return S_OK;
    }

    HRESULT GetRowCount(std::uint32_t /*flags*/, std::uint32_t* count) override {
        if (count == nullptr) {
            return MAPI_E_INVALID_PARAMETER;
        }
        EnsureOrder();
        *count = static_cast<std::uint32_t>(order_.size());
        return S_OK;
    }

    HRESULT SeekRow(Bookmark origin, std::int32_t rowCount, std::int32_t* rowsSought) override {
        EnsureOrder();
        std::int64_t base;
        switch (origin) {
        case BOOKMARK_BEGINNING:
            base = 0;
            break;
        case BOOKMARK_CURRENT:
            base = static_cast<std::int64_t>(position_);
            break;
        case BOOKMARK_END:
            base = static_cast<std::int64_t>(order_.size());
            break;
        default:
            return error_.Set(MAPI_E_INVALID_BOOKMARK, "Unknown bookmark");
        }
        std::int64_t target =
            std::clamp<std::int64_t>(base + rowCount, 0, static_cast<std::int64_t>(order_.size()));
        if (rowsSought != nullptr) {
            *rowsSought = static_cast<std::int32_t>(target - base);
        }
        position_ = static_cast<std::size_t>(target);
        return S_OK;
    }

    HRESULT QueryRows(std::int32_t rowCount, std::uint32_t /*flags*/, RowSet& rows) override {
        rows.clear();
        if (rowCount <= 0) {
            return error_.Set(MAPI_E_INVALID_PARAMETER, "Row count must be above zero");
        }
        EnsureOrder();
        if (!prepared_) {
            source_->Prepare(columns_);
            prepared_ = true;
        }
        while (rows.size() < static_cast<std::size_t>(rowCount) && position_ < order_.size()) {
            Row r;
            HRESULT hr = source_->Values(order_[position_], columns_, r);
            if (Failed(hr)) {
                return error_.Set(hr, "Cannot read row " + std::to_string(position_));
            }
            rows.push_back(std::move(r));
            ++position_;
        }
        return S_OK;
    }

private:
    void EnsureOrder() {
        if (!ordered_) {
            order_.resize(source_->RowCount());
            std::iota(order_.begin(), order_.end(), std::size_t{0});
            ordered_ = true;
        }
    }

    std::shared_ptr<TableSource> source_;
    PropTagArray columns_;
    std::vector<std::size_t> order_;
    std::size_t position_ = 0;
    bool ordered_ = false;
    bool prepared_ = false;
    LastError error_;
};

} // namespace

std::shared_ptr<IMAPITable> MakeTable(std::shared_ptr<TableSource> source) {
    return std::make_shared<SourceTable>(std::move(source));
}

} // namespace qf::mapi
