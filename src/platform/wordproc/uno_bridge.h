// One URP connection to a LibreOffice instance, and the UNO calls a
// conversion makes over it.  No UNO type appears here, so only uno_bridge.cpp
// is compiled against the generated UNO headers.  That file is a module of its
// own (libqf_wordproc_uno.so), loaded when a conversion first needs it: the
// program starts and runs without LibreOffice as long as no document is
// converted.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace qf::wordproc {

// A UNO call failed.  `lost` is set when the connection itself is gone.
class UnoCallError : public std::runtime_error {
public:
    UnoCallError(const std::string& message, bool lost)
        : std::runtime_error(message), lost_(lost) {}
    bool lost() const { return lost_; }

private:
    bool lost_;
};

// What became of a macro call.
enum class MacroResult { Ran, Missing, Failed };

// Loads the UNO module and LibreOffice's runtime libraries it needs.  Throws
// std::runtime_error saying what is missing.
void LoadUnoModule();

class UnoBridge {
public:
    // Connects to the instance accepting on pipe `pipeName`.  Returns null when
    // nothing answers there; throws UnoCallError on other failures and
    // std::runtime_error when the UNO module cannot be loaded.
    static std::unique_ptr<UnoBridge> Connect(const std::string& pipeName);
    virtual ~UnoBridge() = default;

    // A round trip to the instance; false when it no longer answers.
    virtual bool Ping() = 0;
    // Drops the connection; calls blocked on it return with an error.  May be
    // called from any thread.
    virtual void Abort() = 0;

    // True when a document with this file URL is open in the instance.
    virtual bool IsOpen(const std::string& path) = 0;
    // Loads a document hidden and read-only with everything active disabled.
    virtual std::uint64_t Load(const std::string& path, const std::string& password) = 0;
    // Whether the document supports edit protection, and unprotects it.
    // Returns -1 when it has no such state, 0 when unprotected, 1 when done.
    virtual int Unprotect(std::uint64_t doc, const std::string& password) = 0;
    virtual MacroResult RunMacro(std::uint64_t doc, const std::string& name,
                                 std::string& detail) = 0;
    // Throws UnoCallError (not lost) when the document has no text.
    virtual std::string Text(std::uint64_t doc) = 0;
    // Writes a copy of the document with an export filter, optionally
    // encrypted with `password`.
    virtual void StoreCopy(std::uint64_t doc, const std::string& path, const std::string& filter,
                           const std::string& password) = 0;
    virtual void Close(std::uint64_t doc) = 0;
    // Puts a Basic module into a library of the application's macros.
    virtual void InstallBasicModule(const std::string& library, const std::string& module,
                                    const std::string& source) = 0;
    // Asks the instance to quit.  Its answer does not come back when it does.
    virtual void Terminate() = 0;
};

// The module's entry point: UnoBridge::Connect, as an owning raw pointer.
using UnoConnectFunction = UnoBridge* (*)(const std::string& pipeName);
inline constexpr const char* kUnoConnectSymbol = "qf_wordproc_uno_connect";

} // namespace qf::wordproc
