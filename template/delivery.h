// Putting the application on the device from the desktop, the two ways the desktop's own device
// software offers: handing every family's cabinet to its Application Manager (CEAppMgr.exe with an
// .ini, which installs the one that fits when a device is connected, now or later), or going
// straight over the connection (the connection library, rapi.dll): asking the connected device
// its processor, copying that family's cabinet onto it and starting the device's installer on it.
//
// The desktop is behind small interfaces: Windows answers them with the registry, processes and
// rapi.dll, the tests with fakes and, under Wine, with stand-ins of both programs.
#pragma once

#include "device/device_options.h"
#include "platform/error.h"
#include "template/cabinet_run.h"
#include "template/options.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class Package;

namespace installer_template {

// How long a device is given to answer the connection library: long enough for one that is
// plugged in and known to the desktop, short enough that no device means a prompt failure.
inline constexpr unsigned kConnectWaitMilliseconds = 5000;

// Where on the device the cabinet is copied before its installer opens it (which removes it).
inline constexpr std::u16string_view kDeviceCabinetFolder = u"\\Temp";
inline constexpr std::u16string_view kDeviceInstaller = u"wceload.exe";

// One device answering the connection library; disconnected when destroyed, whatever happened.
class DeviceSession {
public:
    virtual ~DeviceSession() = default;
    // The device's processor architecture and processor type (its SYSTEM_INFO's).
    virtual bool Processor(std::uint16_t& architecture, std::uint32_t& type, Error& error) = 0;
    // Makes a folder; one that is there already is no failure.
    virtual bool MakeFolder(std::u16string_view path, Error& error) = 0;
    // Creates the file, replacing one of that name, for the writes that follow.
    virtual bool MakeFile(std::u16string_view path, Error& error) = 0;
    // Writes from the start of `block`; `taken` tells how much of it the device took, which may
    // be less than the whole: the link may take a block in pieces.
    virtual bool Write(std::span<const std::uint8_t> block, std::uint32_t& taken, Error& error) = 0;
    virtual bool CloseFile(Error& error) = 0;
    // Removes a file a copy that did not finish left behind, as far as the device lets it.
    virtual void RemoveFile(std::u16string_view path) = 0;
    virtual bool StartProgram(std::u16string_view program, std::u16string_view arguments, Error& error) = 0;
};

enum class Connection { Connected, NoDevice, Failed };

// The desktop's connection library.
class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    // Waits at most `milliseconds` for a device. NoDevice when none answered in time, Failed with
    // the error when the library itself failed.
    virtual Connection Connect(unsigned milliseconds, std::unique_ptr<DeviceSession>& session, Error& error) = 0;
};

// The desktop's device software as the installer finds it.
class Desktop {
public:
    virtual ~Desktop() = default;
    // The Application Manager's full path; empty when it is not installed.
    virtual std::u16string AppManager() = 0;
    // Where the Application Manager's files go unless the user says otherwise: a folder named
    // `stem` below the Application Manager's own folder when that can be written, else below the
    // user's local application data.
    virtual std::u16string AppManagerFolder(std::u16string_view appManager, std::u16string_view stem) = 0;
    // Starts the Application Manager with the .ini's full path and waits for it to end.
    virtual bool RunAppManager(std::u16string_view appManager, std::u16string_view ini, std::uint32_t& exitCode,
                               Error& error) = 0;
    // The connection library, loaded from the system folder; null when it is not installed there.
    virtual DeviceLink* Link() = 0;
    // A folder for the cabinet on its way to the device.
    virtual std::u16string TemporaryFolder() = 0;
};

// Which way comes first where none is asked for: the Application Manager when it is installed,
// else the connected device when one answers within `probeMilliseconds` (0: when the connection
// library is there at all), else the installation file.
Way FirstWay(Desktop* desktop, unsigned probeMilliseconds);

// --- Through the Application Manager ---

struct AppManagerJob {
    std::vector<CabinetJob> cabinets; // every family with files, in the families' order
    std::u16string folder;
    std::u16string ini; // the .ini's whole path
    std::string iniBytes;
};

// The name of the installer's files: the program name, or the installer's own file name.
std::u16string ProgramStem(const Package& package, std::u16string_view installerPath);

// Plans every family's cabinet and the .ini in `folder` before anything is written. Fails when no
// family has a file, or for the first plan refused.
bool PlanAppManager(const Package& package, std::u16string_view installerPath, std::u16string_view folder,
                    const device::DeviceOptions& options, AppManagerJob& job, Error& error);

// Writes the cabinets, then the .ini: the Application Manager reinstalls from them later, so they
// stay. A failure leaves no folder it made.
bool WriteAppManagerJob(Package& package, const AppManagerJob& job, Error& error);

// Writes the job and starts the Application Manager on it, waiting for it. Fails with the error:
// the Application Manager ending with another exit status than 0 is one.
bool HandToAppManager(Package& package, const AppManagerJob& job, Desktop& desktop, std::u16string_view appManager,
                      Error& error);

// --- Straight over the connection ---

class CopyObserver {
public:
    virtual ~CopyObserver() = default;
    virtual void Copied(std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
};

struct DeviceDelivery {
    const device::CpuChoice* family = nullptr; // the device's, once it answered
    std::u16string devicePath;                 // where the cabinet was copied
};

// The family of a processor architecture as the device reports it, or null for one no Pocket PC
// family stands for.
const device::CpuChoice* FamilyOfArchitecture(std::uint16_t architecture);

// Connects (waiting at most kConnectWaitMilliseconds), asks the device its processor, writes that
// family's cabinet into the temporary folder, copies it over in blocks, starts the device's
// installer on it and disconnects. Fails with a one-line error; `delivered.family` tells what the
// device answered where it did.
bool SendToDevice(Package& package, std::u16string_view installerPath, const device::DeviceOptions& options,
                  Desktop& desktop, CopyObserver* observer, DeviceDelivery& delivered, Error& error);

// --- Texts for long paths ---

// Breaks each line of `text` (lines end with CR LF) so that none is wider than `width` by
// `measure`: after a blank where one fits, else after a path separator, else where the line must
// break. Paths then wrap at their separators instead of running off the page.
std::u16string WrapLines(std::u16string_view text, int width, int (*measure)(std::u16string_view, void*),
                         void* context);

} // namespace installer_template
