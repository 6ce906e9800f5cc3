// Fuzz target for CAB-wizard INFs: any bytes as an INF's text, compiled for no label and for each
// label it defines, every source answered as found. A compile that fails says why, every message
// naming the INF; one that succeeds gives a design whose numbers all point inside it: each file's
// folder, source and member, each shortcut's target, the setup DLL's member.
#include "device/inf_compile.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <span>
#include <string>
#include <vector>

namespace {

// Every source is there, under the name it was asked for: the compiler's own rules are fuzzed,
// not the host's file system.
class EverySourceFound final : public device::inf::SourceFinder {
public:
    bool Find(std::u16string_view folder, std::u16string_view relative, std::u16string& found,
              std::string&) override {
        found = std::u16string(folder) + u"/" + std::u16string(relative);
        return true;
    }
};

void CheckCompiled(const device::inf::CompiledInf& compiled) {
    const device::CabinetDesign& d = compiled.design;
    auto fileOk = [&](const device::DesignFile& file, bool placed) {
        Require(!file.name.empty());
        Require(file.source >= 1);
        Require(file.member >= 0 && static_cast<std::size_t>(file.member) < compiled.sources.size());
        Require(!placed || file.folder < d.folders.size());
    };
    for (const device::DesignFile& file : d.files) {
        fileOk(file, true);
    }
    if (d.setupDll) {
        fileOk(*d.setupDll, false);
    }
    for (const device::DesignLink& link : d.links) {
        Require(!link.parts.empty() && link.parts.back().size() >= 4);
        Require(link.base <= 17);
        Require(link.toFile ? link.target < d.files.size()
                            : link.target < d.folders.size() || link.target == device::kInstallFolderTarget);
    }
    for (const device::DesignFolder& folder : d.folders) {
        Require(folder.inInstallDir || !folder.parts.empty());
    }
    for (const device::RegistryValue& value : d.registry) {
        Require(!value.key.empty() && value.key.front() != u'\\' && value.key.back() != u'\\');
    }
    Require(!d.installDir.empty());
    for (const std::string& warning : compiled.warnings) {
        Require(warning.rfind("Fuzz.inf", 0) == 0 && warning.find(": warning: ") != std::string::npos &&
                warning.find('\n') == std::string::npos);
    }
}

} // namespace

int FuzzInfCompiler(const std::uint8_t* data, std::size_t size) {
    if (size > 1024 * 1024) {
        return 0;
    }
    std::u16string text;
    if (!device::inf::DecodeInf(std::span(data, size), text)) {
        return 0;
    }
    device::inf::Document document = device::inf::ReadInf(text);
    std::vector<std::u16string> labels = device::inf::InfLabels(document);
    labels.insert(labels.begin(), u"");
    for (const std::u16string& label : labels) {
        Require(label.empty() || label.find(u'\n') == std::u16string::npos);
        EverySourceFound finder;
        device::inf::CompiledInf compiled;
        std::vector<std::string> problems;
        if (device::inf::CompileInf(document, {u"Fuzz.inf", u"/inf", label, u"/abs"}, finder, compiled, problems)) {
            Require(problems.empty());
            CheckCompiled(compiled);
        } else {
            Require(!problems.empty());
            for (const std::string& problem : problems) {
                Require(problem.rfind("Fuzz.inf", 0) == 0 && problem.find('\n') == std::string::npos);
            }
        }
    }
    return 0;
}
