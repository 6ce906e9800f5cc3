// Fuzz target for reading device cabinets: any bytes as a cabinet in memory. A cabinet that opens
// names only paths a device can hold, and each of its files reads back with its listed size or
// fails with a cause; reading them all a second time gives the same answers, so that no read
// depends on what an earlier one, failed or not, left behind. What its files unpack to is bounded
// by the cabinet's own length, and they are read in pieces, as verify reads them: run with a limit
// on memory (./fuzz does), a reader that set aside what a cabinet declares is caught.
#include "device/cabinet.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Outcome {
    bool read = false;
    std::uint64_t size = 0;
    uLong digest = adler32(0, nullptr, 0);
};

Outcome ReadOne(device::CabinetReader& reader, std::size_t index) {
    Outcome outcome;
    Error error;
    outcome.read = reader.ReadFile(
        index,
        [&](const std::uint8_t* bytes, std::size_t n) {
            Require(n > 0 && n <= device::kCabinetBlock);
            outcome.digest = adler32(outcome.digest, bytes, static_cast<uInt>(n));
            outcome.size += n;
        },
        error);
    if (outcome.read) {
        Require(outcome.size == reader.Contents().files[index].size);
    } else {
        Require(!error.message.empty());
    }
    return outcome;
}

} // namespace

int FuzzCabinetReader(const std::uint8_t* data, std::size_t size) {
    if (size > 16 * 1024 * 1024) {
        return 0;
    }
    device::CabinetReader reader;
    Error error;
    if (!reader.Open(std::vector<std::uint8_t>(data, data + size), error)) {
        Require(!error.message.empty());
        return 0;
    }
    const device::Cabinet& cabinet = reader.Contents();
    Require(cabinet.length == size);
    std::uint64_t declared = 0;
    for (const device::CabinetFile& file : cabinet.files) {
        Require(file.relative.size() < 259);
        declared += file.size;
    }
    // Files do not overlap and every block belongs to one folder, so together they hold no more
    // than the cabinet's bytes can unpack to.
    Require(declared <= std::uint64_t{device::kMostDeflateRatio} * size);
    for (const device::CabinetLink& link : cabinet.links) {
        Require(link.relative.size() < 259);
    }
    // Twice in the order the data is stored, as verify reads them: in any other order each file
    // may unpack its folder from the start, and the target would spend its time doing so.
    std::vector<std::size_t> order(cabinet.files.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const device::CabinetFile &x = cabinet.files[a], &y = cabinet.files[b];
        return x.folder != y.folder ? x.folder < y.folder : x.offset < y.offset;
    });
    std::vector<Outcome> first(cabinet.files.size());
    for (std::size_t i : order) {
        first[i] = ReadOne(reader, i);
    }
    for (std::size_t i : order) {
        Outcome again = ReadOne(reader, i);
        Require(again.read == first[i].read);
        Require(again.size == first[i].size && again.digest == first[i].digest);
    }
    std::vector<std::uint8_t> none;
    Require(!reader.ReadFile(cabinet.files.size(), none, error));
    return 0;
}
