// A CAB-wizard INF compiled into a cabinet's design: what the wizard would put in the cabinet for
// one processor label, every source found on this host, and every mistake of the INF named by its
// line, so that a developer's existing INF builds the cabinet the wizard built, on any host.
#pragma once

#include "device/cabinet_design.h"
#include "device/inf_sources.h"
#include "device/inf_text.h"

#include <string>
#include <string_view>
#include <vector>

namespace device::inf {

struct CompileRequest {
    std::u16string infName;      // the INF's file name, as messages begin ("Notes.inf:12: ...")
    std::u16string infFolder;    // the host folder it lies in, below which its source folders are
    std::u16string label;        // the processor label ("ARMV4I"), empty for none
    std::u16string sourceFolder; // where absolute Windows source folders lie here; empty for none
};

struct CompiledInf {
    CabinetDesign design;
    // The host path of each source; DesignFile::member (the setup DLL's too) is a place in it.
    std::vector<std::u16string> sources;
    // "Notes.inf:12: warning: ..." lines, in the order of the lines they name.
    std::vector<std::string> warnings;
};

// Compiles `document` for `request.label`. False with every problem found ("Notes.inf:12: what is
// wrong", in the order of their lines) in `problems`; nothing of `compiled` is to be used then.
bool CompileInf(const Document& document, const CompileRequest& request, SourceFinder& finder, CompiledInf& compiled,
                std::vector<std::string>& problems);

// The processor labels the INF defines: the suffixes of its [CEDevice.X], [DefaultInstall.X],
// [SourceDisksNames.X] and [SourceDisksFiles.X] sections, in the order they first appear, as first
// spelt; labels are one whatever their case.
std::vector<std::u16string> InfLabels(const Document& document);

} // namespace device::inf
