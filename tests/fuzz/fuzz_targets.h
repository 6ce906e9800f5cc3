// The fuzz targets: each takes one input and aborts when an invariant of the code under test
// breaks. libFuzzer drives them (./fuzz); the normal test run replays the saved corpus through them.
#pragma once

#include <cstddef>
#include <cstdint>

// Package reading: any bytes, as a package in memory and as a file.
int FuzzPackageReader(const std::uint8_t* data, std::size_t size);

// PE resources: any bytes as an executable; every resource listed must read back, and an update
// that succeeds must leave every old resource and the new one readable with the right bytes.
int FuzzPeResources(const std::uint8_t* data, std::size_t size);

// What tarvelo-build's reading commands load: any bytes as a workspace, package or installer file.
int FuzzPackageInput(const std::uint8_t* data, std::size_t size);

// Device cabinets: any bytes as a cabinet; every file of one that opens must read back the same way
// whatever was read before it.
int FuzzCabinetReader(const std::uint8_t* data, std::size_t size);

// Registry editor exports: any bytes as a .reg file; what reads is what a cabinet carries, and
// reads the same once written back as regedit writes it.
int FuzzRegFile(const std::uint8_t* data, std::size_t size);

// INF text: any bytes decoded and read into sections, lines and fields, with strings replaced.
int FuzzInfText(const std::uint8_t* data, std::size_t size);

// CAB-wizard INFs: any bytes as an INF, compiled for each of its labels with every source found;
// a failure says why, a design's numbers all point inside it.
int FuzzInfCompiler(const std::uint8_t* data, std::size_t size);
