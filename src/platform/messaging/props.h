// Helpers shared by the providers: property lookup with string-type conversion,
// last-error records, and an in-memory or computed table.
#pragma once

#include "platform/messaging/mapi.h"

#include <functional>
#include <string>

namespace qf::mapi {

// A missing property as GetProps reports it.
PropValue NotFound(PropTag tag);
PropValue MakeLong(PropTag tag, std::int32_t v);
PropValue MakeBool(PropTag tag, bool v);
PropValue MakeTime(PropTag tag, FileTime v);
PropValue MakeText(PropTag tag, std::string v); // UTF-8; converted for PT_UNICODE tags
PropValue MakeBinary(PropTag tag, Binary v);

// The value of `tag` among `all` (matched by property id).  A PT_STRING8 value
// asked for as PT_UNICODE (or the other way) is converted; PT_UNSPECIFIED takes
// whatever type is there.  Otherwise NotFound(tag).
PropValue FindProp(const std::vector<PropValue>& all, PropTag tag);

// GetProps over a full property list: one value per tag, and the result code.
HRESULT SelectProps(const std::vector<PropValue>& all, const PropTagArray* tags,
                    std::vector<PropValue>& out);

// The text of a string value of either width, or nullptr when it is not a string.
std::string TextOf(const PropValue& v);

// Compares two values for sorting: missing values first, then by value.
int CompareValues(const PropValue& a, const PropValue& b);

// Keeps the last failure of an object for GetLastError.
class LastError {
public:
    // Records the failure and passes the code through.
    HRESULT Set(HRESULT hr, std::string error, int sysErrno = 0);
    HRESULT Get(HRESULT hr, std::optional<MapiErrorInfo>& info) const;
    void SetComponent(std::string component) { component_ = std::move(component); }
    // Failures are also recorded in `other` (the store an object lies in: callers
    // ask the store for the details of a failed folder or message call).
    void MirrorTo(LastError* other) { mirror_ = other; }

private:
    LastError* mirror_ = nullptr;
    HRESULT code_ = S_OK;
    std::string error_;
    std::string component_ = "Messaging";
    int errno_ = 0;
};

// Rows of a table, computed on demand: `values` fills one value per tag for the
// row.  A table over a source supports SetColumns, SortTable, GetRowCount, SeekRow
// and QueryRows.
class TableSource {
public:
    virtual ~TableSource() = default;
    virtual std::size_t RowCount() = 0;
    virtual HRESULT Values(std::size_t row, const PropTagArray& tags, Row& values) = 0;
    // Called once with the columns and sort keys before rows are read, so a
    // source can decide how much of each row it needs to compute.
    virtual void Prepare(const PropTagArray& /*tags*/) {}
    virtual PropTagArray DefaultColumns() = 0;
    virtual std::string Component() const { return "Messaging"; }
};

// A source over rows whose whole property lists are known.
class StaticSource : public TableSource {
public:
    StaticSource(std::vector<std::vector<PropValue>> rows, PropTagArray defaultColumns)
        : rows_(std::move(rows)), default_(std::move(defaultColumns)) {}
    std::size_t RowCount() override { return rows_.size(); }
    HRESULT Values(std::size_t row, const PropTagArray& tags, Row& values) override;
    PropTagArray DefaultColumns() override { return default_; }

private:
    std::vector<std::vector<PropValue>> rows_;
    PropTagArray default_;
};

std::shared_ptr<IMAPITable> MakeTable(std::shared_ptr<TableSource> source);

} // namespace qf::mapi
