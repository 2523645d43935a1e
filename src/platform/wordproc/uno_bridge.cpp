#include "platform/wordproc/uno_bridge.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/script/provider/XScript.hpp>
#include <com/sun/star/script/provider/XScriptProvider.hpp>
#include <com/sun/star/script/provider/XScriptProviderFactory.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <rtl/ustring.hxx>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

namespace qf::wordproc {

using namespace css;
using rtl::OUString;
using rtl::OUStringToOString;
using uno::Reference;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

constexpr const char* kFundamentalRc =
    "vnd.sun.star.pathname:/usr/lib/libreoffice/program/fundamentalrc";

OUString U(const std::string& s) {
    return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string S(const OUString& s) {
    rtl::OString o = OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(o.getStr(), static_cast<std::size_t>(o.getLength()));
}

// The local UNO environment, set up once per process.
Reference<uno::XComponentContext> LocalContext() {
    static std::once_flag once;
    static Reference<uno::XComponentContext> context;
    static std::string failure;
    std::call_once(once, [] {
        // Without this the client crashes once the office runs.
        if (!std::getenv("URE_BOOTSTRAP")) {
            ::setenv("URE_BOOTSTRAP", kFundamentalRc, 0);
        }
        // A dropped pipe must become an error, not the end of this program.
        struct sigaction old {};
        if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
            std::signal(SIGPIPE, SIG_IGN);
        }
        try {
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const uno::Exception& e) {
            failure = S(e.Message);
        }
    });
    if (!context.is()) {
        throw UnoCallError("The UNO runtime could not be set up: " + failure, false);
    }
    return context;
}

std::string FirstLine(const uno::Exception& e) {
    std::string m = S(e.Message);
    // UNO messages often go on with the source position: keep the first line.
    if (auto nl = m.find('\n'); nl != std::string::npos) {
        m.erase(nl);
    }
    return m;
}

// The URP bridge reports a dropped connection as DisposedException, or as a
// plain RuntimeException saying so.
bool LooksLost(const uno::RuntimeException& e) {
    std::string m = S(e.Message);
    return m.find("dispos") != std::string::npos || m.find("Dispos") != std::string::npos ||
           m.find("connection") != std::string::npos;
}

// Whether the UNO exception being handled means the connection is gone.
bool CurrentIsLost() {
    try {
        throw;
    } catch (const lang::DisposedException&) {
        return true;
    } catch (const uno::RuntimeException& e) {
        return LooksLost(e);
    } catch (...) {
        return false;
    }
}

// Rethrows the UNO exception being handled as an UnoCallError.
[[noreturn]] void Rethrow(const std::string& what) {
    try {
        throw;
    } catch (const uno::Exception& e) {
        std::string m = FirstLine(e);
        throw UnoCallError(m.empty() ? what : what + ": " + m, CurrentIsLost());
    }
}

beans::PropertyValue Prop(const char* name, const uno::Any& value) {
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

std::string FileUrl(const std::string& path) {
    OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(U(path), url) != osl::FileBase::E_None) {
        throw UnoCallError("The path cannot be written as a file URL: " + path, false);
    }
    return S(url);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// True when Basic source `source` defines a Sub or Function named `name`.
bool DefinesMacro(const std::string& source, const std::string& name) {
    std::istringstream in(source);
    std::string line;
    const std::string want = Lower(name);
    while (std::getline(in, line)) {
        std::string l = Lower(line);
        std::size_t i = l.find_first_not_of(" \t");
        if (i == std::string::npos) {
            continue;
        }
        l.erase(0, i);
        for (bool stripped = true; stripped;) {
            stripped = false;
            for (std::string_view prefix : {"public ", "private ", "static "}) {
                if (l.compare(0, prefix.size(), prefix) == 0) {
                    std::size_t next = l.find_first_not_of(" \t", prefix.size());
                    l.erase(0, next == std::string::npos ? l.size() : next);
                    stripped = true;
                }
            }
        }
        std::size_t after = 0;
        if (l.compare(0, 4, "sub ") == 0) {
            after = 4;
        } else if (l.compare(0, 9, "function ") == 0) {
            after = 9;
        } else {
            continue;
        }
        std::size_t start = l.find_first_not_of(" \t", after);
        if (start == std::string::npos) {
            continue;
        }
        std::size_t end = l.find_first_of(" \t('\r", start);
        if (l.substr(start, end == std::string::npos ? std::string::npos : end - start) == want) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> SplitDots(const std::string& s) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = s.find('.', start);
        parts.push_back(
            s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) {
            return parts;
        }
        start = dot + 1;
    }
}

class Bridge final : public UnoBridge {
public:
    Bridge(Reference<lang::XComponent> bridge, Reference<uno::XComponentContext> remote)
        : bridge_(std::move(bridge)), remote_(std::move(remote)) {
        try {
            desktop_ = frame::Desktop::create(remote_);
        } catch (const uno::Exception& e) {
            Rethrow("The office's desktop is not available");
        }
    }

    ~Bridge() override {
        docs_.clear();
        desktop_.clear();
        remote_.clear();
        try {
            bridge_->dispose();
        } catch (const uno::Exception&) {
        }
    }

    bool Ping() override {
        try {
            desktop_->getCurrentFrame();
            return true;
        } catch (const uno::Exception&) {
            return false;
        }
    }

    void Abort() override {
        try {
            bridge_->dispose();
        } catch (const uno::Exception&) {
        }
    }

    bool IsOpen(const std::string& path) override {
        try {
            OUString url = U(FileUrl(path));
            Reference<container::XEnumeration> all = desktop_->getComponents()->createEnumeration();
            while (all->hasMoreElements()) {
                Reference<frame::XModel> model(all->nextElement(), UNO_QUERY);
                if (model.is() && model->getURL() == url) {
                    return true;
                }
            }
            return false;
        } catch (const uno::Exception& e) {
            Rethrow("The open documents could not be listed");
        }
    }

    std::uint64_t Load(const std::string& path, const std::string& password) override {
        uno::Sequence<beans::PropertyValue> args(6);
        auto* a = args.getArray();
        a[0] = Prop("Hidden", uno::Any(true));
        // Read-only also keeps lock files from appearing beside the document.
        a[1] = Prop("ReadOnly", uno::Any(true));
        a[2] = Prop("Password", uno::Any(U(password)));
        a[3] = Prop("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE));
        a[4] = Prop("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE));
        a[5] = Prop("Silent", uno::Any(true));
        Reference<lang::XComponent> doc;
        try {
            doc = desktop_->loadComponentFromURL(U(FileUrl(path)), "_blank", 0, args);
        } catch (const uno::Exception& e) {
            Rethrow("The document did not open");
        }
        if (!doc.is()) {
            throw UnoCallError("The document did not open (wrong password, damaged file or a "
                               "format the word processor does not read)",
                               false);
        }
        std::uint64_t id = ++lastId_;
        docs_[id] = doc;
        return id;
    }

    int Unprotect(std::uint64_t doc, const std::string& password) override {
        try {
            Reference<util::XProtectable> p(Doc(doc), UNO_QUERY);
            if (!p.is()) {
                return -1;
            }
            if (!p->isProtected()) {
                return 0;
            }
            p->unprotect(U(password));
            return 1;
        } catch (const uno::Exception& e) {
            Rethrow("The document could not be unprotected");
        }
    }

    MacroResult RunMacro(std::uint64_t doc, const std::string& name, std::string& detail) override {
        std::string uri;
        try {
            uri = ResolveMacro(name);
        } catch (const uno::Exception& e) {
            Rethrow("The macros could not be listed");
        }
        if (uri.empty()) {
            detail = "No macro named " + name + " exists";
            return MacroResult::Missing;
        }
        try {
            Reference<script::provider::XScriptProviderFactory> factory(
                remote_->getValueByName(
                    "/singletons/com.sun.star.script.provider.theMasterScriptProviderFactory"),
                UNO_QUERY_THROW);
            Reference<script::provider::XScriptProvider> provider =
                factory->createScriptProvider(uno::Any(OUString()));
            Reference<script::provider::XScript> script = provider->getScript(U(uri));
            uno::Sequence<uno::Any> params(1);
            params.getArray()[0] <<= Doc(doc);
            uno::Sequence<sal_Int16> outIndex;
            uno::Sequence<uno::Any> outParams;
            script->invoke(params, outIndex, outParams);
            return MacroResult::Ran;
        } catch (const uno::Exception& e) {
            if (CurrentIsLost()) {
                Rethrow("The macro did not finish");
            }
            detail = "The macro " + name + " failed: " + FirstLine(e);
            return MacroResult::Failed;
        }
    }

    std::string Text(std::uint64_t doc) override {
        Reference<lang::XComponent> component = Doc(doc);
        try {
            Reference<text::XTextDocument> td(component, UNO_QUERY);
            if (!td.is()) {
                throw UnoCallError("The document is not a text document", false);
            }
            return S(td->getText()->getString());
        } catch (const uno::Exception&) {
            Rethrow("The document's text could not be read");
        }
    }

    void StoreCopy(std::uint64_t doc, const std::string& path, const std::string& filter,
                   const std::string& password) override {
        std::vector<beans::PropertyValue> props;
        props.push_back(Prop("FilterName", uno::Any(U(filter))));
        props.push_back(Prop("Overwrite", uno::Any(true)));
        if (!password.empty()) {
            if (filter.find("2007") != std::string::npos) {
                // The OOXML export ignores a plain password: it wants the
                // encryption data of the standard crypto.
                uno::Sequence<beans::NamedValue> enc(2);
                enc.getArray()[0].Name = "CryptoType";
                enc.getArray()[0].Value <<= OUString("Standard");
                enc.getArray()[1].Name = "OOXPassword";
                enc.getArray()[1].Value <<= U(password);
                props.push_back(Prop("EncryptionData", uno::Any(enc)));
            } else {
                props.push_back(Prop("Password", uno::Any(U(password))));
            }
        }
        try {
            Reference<frame::XStorable> storable(Doc(doc), UNO_QUERY_THROW);
            storable->storeToURL(U(FileUrl(path)),
                                 uno::Sequence<beans::PropertyValue>(
                                     props.data(), static_cast<sal_Int32>(props.size())));
        } catch (const uno::Exception& e) {
            Rethrow("The document could not be stored");
        }
    }

    void Close(std::uint64_t doc) override {
        auto it = docs_.find(doc);
        if (it == docs_.end()) {
            return;
        }
        Reference<lang::XComponent> component = it->second;
        docs_.erase(it);
        try {
            Reference<util::XCloseable> closeable(component, UNO_QUERY);
            if (closeable.is()) {
                closeable->close(true);
            } else {
                component->dispose();
            }
        } catch (const uno::Exception& e) {
            Rethrow("The document could not be closed");
        }
    }

    void InstallBasicModule(const std::string& library, const std::string& module,
                            const std::string& source) override {
        try {
            Reference<script::XLibraryContainer> libs = Libraries();
            Reference<container::XNameContainer> lib;
            if (libs->hasByName(U(library))) {
                libs->loadLibrary(U(library));
                libs->getByName(U(library)) >>= lib;
            } else {
                lib = libs->createLibrary(U(library));
            }
            if (!lib.is()) {
                throw UnoCallError("The macro library " + library + " cannot be changed", false);
            }
            if (lib->hasByName(U(module))) {
                lib->replaceByName(U(module), uno::Any(U(source)));
            } else {
                lib->insertByName(U(module), uno::Any(U(source)));
            }
            resolved_.clear();
        } catch (const uno::Exception& e) {
            Rethrow("The macro module could not be installed");
        }
    }

    void Terminate() override {
        docs_.clear();
        try {
            desktop_->terminate();
        } catch (const uno::Exception&) {
            // The bridge goes down with the office, often before the answer.
        }
    }

private:
    Reference<lang::XComponent> Doc(std::uint64_t doc) const {
        auto it = docs_.find(doc);
        if (it == docs_.end()) {
            throw UnoCallError("The document is not open", false);
        }
        return it->second;
    }

    Reference<script::XLibraryContainer> Libraries() {
        Reference<script::XLibraryContainer> libs(
            remote_->getServiceManager()->createInstanceWithContext(
                "com.sun.star.script.ApplicationScriptLibraryContainer", remote_),
            UNO_QUERY_THROW);
        return libs;
    }

    // The script URI of the application's Basic macro `name`, or empty.
    std::string ResolveMacro(const std::string& name) {
        if (auto it = resolved_.find(Lower(name)); it != resolved_.end()) {
            return it->second;
        }
        std::vector<std::string> parts = SplitDots(name);
        if (parts.empty() || parts.size() > 3 ||
            std::any_of(parts.begin(), parts.end(), [](const auto& p) { return p.empty(); })) {
            return {};
        }
        Reference<script::XLibraryContainer> libs = Libraries();
        std::vector<OUString> libNames;
        if (parts.size() == 3) {
            libNames.push_back(U(parts[0]));
        } else {
            // Standard first, then the others in their order.
            libNames.push_back("Standard");
            for (const OUString& n : libs->getElementNames()) {
                if (n != "Standard") {
                    libNames.push_back(n);
                }
            }
        }
        const std::string& macro = parts.back();
        std::string found;
        for (const OUString& libName : libNames) {
            if (!libs->hasByName(libName)) {
                continue;
            }
            libs->loadLibrary(libName);
            Reference<container::XNameAccess> modules(libs->getByName(libName), UNO_QUERY);
            if (!modules.is()) {
                continue;
            }
            for (const OUString& modName : modules->getElementNames()) {
                if (parts.size() >= 2 && Lower(S(modName)) != Lower(parts[parts.size() - 2])) {
                    continue;
                }
                OUString src;
                modules->getByName(modName) >>= src;
                if (DefinesMacro(S(src), macro)) {
                    found = "vnd.sun.star.script:" + S(libName) + "." + S(modName) + "." + macro +
                            "?language=Basic&location=application";
                    break;
                }
            }
            if (!found.empty()) {
                break;
            }
        }
        resolved_[Lower(name)] = found;
        return found;
    }

    Reference<lang::XComponent> bridge_;
    Reference<uno::XComponentContext> remote_;
    Reference<frame::XDesktop2> desktop_;
    std::map<std::uint64_t, Reference<lang::XComponent>> docs_;
    std::uint64_t lastId_ = 0;
    std::map<std::string, std::string> resolved_;
};

} // namespace

namespace {

std::unique_ptr<UnoBridge> ConnectBridge(const std::string& pipeName) {
    Reference<uno::XComponentContext> local = LocalContext();
    Reference<connection::XConnection> conn;
    try {
        conn = connection::Connector::create(local)->connect(U("pipe,name=" + pipeName));
    } catch (const connection::NoConnectException&) {
        return nullptr;
    } catch (const uno::Exception& e) {
        Rethrow("The office's pipe " + pipeName + " cannot be reached");
    }
    try {
        Reference<bridge::XBridge> bridge =
            bridge::BridgeFactory::create(local)->createBridge("", "urp", conn, nullptr);
        Reference<uno::XComponentContext> remote(bridge->getInstance("StarOffice.ComponentContext"),
                                                 UNO_QUERY_THROW);
        return std::make_unique<Bridge>(Reference<lang::XComponent>(bridge, UNO_QUERY_THROW),
                                        remote);
    } catch (const UnoCallError&) {
        throw;
    } catch (const uno::Exception& e) {
        // The office accepted the pipe but is still starting up.
        if (CurrentIsLost()) {
            return nullptr;
        }
        Rethrow("The office on pipe " + pipeName + " does not answer");
    }
}

} // namespace
} // namespace qf::wordproc

extern "C" __attribute__((visibility("default"))) qf::wordproc::UnoBridge*
qf_wordproc_uno_connect(const std::string& pipeName) {
    return qf::wordproc::ConnectBridge(pipeName).release();
}
