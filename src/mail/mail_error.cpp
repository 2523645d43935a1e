#include "mail/mail_error.h"

#include "common/installation.h"

#include <array>
#include <cstdio>
#include <utility>

namespace qf {

namespace {

struct CodeText {
    std::uint32_t code;
    const char* text;
};

// The explanations of failure codes.  Where no better wording exists the
// text is the published name of the code.
constexpr std::array<CodeText, 58> kErrorTexts = {{
    {0x80004005, "MAPI_E_CALL_FAILED"},
    {0x8007000E, "MAPI_E_NOT_ENOUGH_MEMORY"},
    {0x80004002, "MAPI_E_INTERFACE_NOT_SUPPORTED"},
    {0x80040105, "MAPI_E_STRING_TOO_LONG"},
    {0x8004010B, "MAPI_E_BUSY"},
    {0x8004010D, "MAPI_E_NOT_ENOUGH_DISK"},
    {0x80040114, "MAPI_E_UNABLE_TO_ABORT"},
    {0x80040115, "MAPI_E_NETWORK_ERROR"},
    {0x80040116, "MAPI_E_DISK_ERROR"},
    {0x80040118, "MAPI_E_BAD_COLUMN"},
    {0x80040119, "MAPI_E_EXTENDED_ERROR"},
    {0x8004011A, "MAPI_E_COMPUTED"},
    {0x8004011B, "MAPI_E_CORRUPT_DATA"},
    {0x8004011D, "MAPI_E_FAILONEPROVIDER"},
    {0x80040120, "MAPI_E_PASSWORD_CHANGE_REQUIRED"},
    {0x80040121, "MAPI_E_PASSWORD_EXPIRED"},
    {0x80040122, "MAPI_E_INVALID_WORKSTATION_ACCOUNT"},
    {0x80040123, "MAPI_E_INVALID_ACCESS_TIME"},
    {0x80040124, "MAPI_E_ACCOUNT_DISABLED"},
    {0x80040200, "MAPI_E_END_OF_SESSION"},
    {0x80040202, "MAPI_E_MISSING_REQUIRED_COLUMN"},
    {0x80040301, "MAPI_E_BAD_VALUE"},
    {0x80040302, "MAPI_E_INVALID_TYPE"},
    {0x80040303, "MAPI_E_TYPE_NO_SUPPORT"},
    {0x80040304, "MAPI_E_UNEXPECTED_TYPE"},
    {0x80040305, "MAPI_E_TOO_BIG"},
    {0x80040306, "MAPI_E_DECLINE_COPY"},
    {0x80040307, "MAPI_E_UNEXPECTED_ID"},
    {0x80040400, "MAPI_E_UNABLE_TO_COMPLETE"},
    {0x80040402, "MAPI_E_TABLE_EMPTY"},
    {0x80040403, "MAPI_E_TABLE_TOO_BIG"},
    {0x80040405, "MAPI_E_INVALID_BOOKMARK"},
    {0x80040500, "MAPI_E_WAIT"},
    {0x80040501, "MAPI_E_CANCEL"},
    {0x80040502, "MAPI_E_NOT_ME"},
    {0x80040102, "MAPI_E_NO_SUPPORT - The container has no child containers and cannot provide "
                 "a hierarchy table. "},
    {0x80040103, "MAPI_E_BAD_CHARWIDTH - Either the MAPI_UNICODE flag was set and the "
                 "implementation does not support Unicode, or MAPI_UNICODE was not set and the "
                 "implementation only supports Unicode"},
    {0x80040106, "Invalid flag!"},
    {0x80040107, "MAPI_E_INVALID_ENTRYID - The entry identifier does not belong to the address "
                 "book provider. "},
    {0x80040108, "May fail if system resources are exhausted."},
    {0x80040109, "MAPI_E_OBJECT_CHANGED - The object has changed since it was opened."},
    {0x8004010A, "MAPI_E_OBJECT_DELETED - The object has been deleted since it was opened."},
    {0x8004010E, "Not enough system resources were available to complete the operation."},
    {0x8004010F, "MAPI_E_NOT_FOUND - The entry identifier specified by lpEntryID does not "
                 "represent an object"},
    {0x80040110, "The version of OLE installed on the workstation is not compatible with this "
                 "version of MAPI."},
    {0x80040111, "The logon did not succeed, either because one or more of the parameters to "
                 "Profile were invalid or because there were too many sessions open already."},
    {0x80040112, "MAPI sets up context specific to the current process.\rFailures may occur on "
                 "Win16 if the number of processes exceeds a certain number,\ror on any system if "
                 "available memory is exhausted."},
    {0x80040113, "The user canceled the operation, typically by choosing the Cancel button in a "
                 "dialog box."},
    {0x80040117, "The keys required by MAPI could not be initialized."},
    {0x8004011C, "A service provider has not been configured, and therefore the operation did "
                 "not complete."},
    {0x8004011E, "MAPI_E_UNKNOWN_CPID - The server is not configured to support the client's "
                 "code page."},
    {0x8004011F, "MAPI_E_UNKNOWN_LCID - The server is not configured to support the client's "
                 "locale information."},
    {0x80040201, "MAPI_E_UNKNOWN_ENTRYID - The entry identifier in the lpEntryID parameter is "
                 "not of a format recognized by the address book provider"},
    {0x80040401, "MAPI serializes all logons through a mutex. This is returned if the another "
                 "thread held the mutex."},
    {0x80040605, "The MAPI profile provider has encountered an error."},
    {0x80070005, "MAPI_E_NO_ACCESS - Either the user has insufficient permissions to open the "
                 "object or an attempt was made to open a read-only object with read/write "
                 "access"},
    {0x80070057, "Invalid parameter!"},
    {0x80070157, "Invalid parameter or flag!"},
}};

constexpr std::array<CodeText, 8> kStreamErrorTexts = {{
    {0x8000000A, "Asynchronous storage only: Part or all of the data to be read is currently "
                 "unavailable."},
    {0x80030001, "The dwOrigin parameter contains an invalid value, or the dlibMove parameter "
                 "contains a bad offset value. For example, the result of the seek pointer is a "
                 "negative offset value."},
    {0x80030005, "The caller does not have enough permissions for reading this stream object."},
    {0x80030009, "One of the pointer values is not valid."},
    {0x8003001D, "The write operation was not completed due to a disk error. This value is also "
                 "returned when this method attempts to write to a stream that was opened in "
                 "simple mode (using the STGM_SIMPLE flag)."},
    {0x80030070, "The write operation was not completed because there is no space left on the "
                 "storage device."},
    {0x80030102, "The object has been invalidated by a revert operation above it in the "
                 "transaction tree."},
    {0x80030103, "Data cannot be written for reasons other than improper access or insufficient "
                 "space."},
}};

void DefaultStreamNotice(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

StreamNoticeHook& NoticeHook() {
    static StreamNoticeHook hook = DefaultStreamNotice;
    return hook;
}

} // namespace

std::string ErrorText(std::uint32_t code) {
    for (const auto& row : kErrorTexts) {
        if (row.code == code) {
            return row.text;
        }
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
    return std::string("Unexpected MAPI Error $") + hex;
}

std::optional<std::string> StreamErrorText(std::uint32_t code) {
    for (const auto& row : kStreamErrorTexts) {
        if (row.code == code) {
            return std::string(row.text);
        }
    }
    return std::nullopt;
}

std::string ComposeMailErrorMessage(const std::string& label, std::uint32_t code,
                                    const std::optional<ErrorDetails>& details) {
    std::string message = "Position:" + label + " " + ErrorText(code);
    if (details) {
        message += "\r\nDetails:\r\n";
        if (details->text) {
            message += "Error: " + *details->text + "\r\n";
        }
        if (details->component) {
            message += "Component: " + *details->component + "\r\n";
        }
    }
    return message;
}

void CheckResultNoDetails(const std::string& label, std::uint32_t code) {
    if (mapi::Failed(code)) {
        throw MailError(ComposeMailErrorMessage(label, code, std::nullopt));
    }
}

StreamNoticeHook SetStreamNoticeHook(StreamNoticeHook hook) {
    if (!hook) {
        hook = DefaultStreamNotice;
    }
    return std::exchange(NoticeHook(), std::move(hook));
}

bool CheckStreamResult(const std::string& label, std::uint32_t code) {
    if (!mapi::Failed(code)) {
        return false;
    }
    if (auto text = StreamErrorText(code)) {
        NoticeHook()(kProductTitle, "Error: Position:" + label + " " + *text);
    }
    return true;
}

} // namespace qf
