#pragma once
// The capture file a person chose to read (打开捕获文件): opened without
// waiting and refused unless it is a regular file. A named pipe would hold
// the interface thread in open() until a writer came, a device in its first
// read; either is refused as a file that cannot be opened, with the code
// kNotRegularFileCode and the kind of file in the fault's detail.
#include <cerrno>
#include <memory>
#include <string>

#include "capture/endpoint.h"

inline constexpr int kNotRegularFileCode = ESPIPE;

std::unique_ptr<CaptureEndpoint> MakeRegularFileEndpoint(std::string path);
