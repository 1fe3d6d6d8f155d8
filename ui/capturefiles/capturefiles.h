#pragma once
// Capture files the window writes: the datagrams behind the rows of the list
// (保存捕获文件...), and the messages of a failed save. The recording of every
// datagram (记录到文件...) is CaptureRecording, beside this file.
#include <QString>
#include <string>
#include <vector>

#include "capture/session.h"
#include "export/eventlog.h"
#include "export/pcapng.h"
#include "framework/listctrl.h"

// The datagrams the rows of `list` keep, oldest capture first whatever the
// rows' order (a sort by a column moves rows, not their capture times).
// Datagrams captured in the same nanosecond keep the list's order, bottom
// first. Rows without a kept datagram are left out. The bytes stay the
// list's: use them before the list changes.
std::vector<PcapngDatagram> ListDatagrams(const CListCtrl& list);

// The interface block of a capture on `localAddress`: the interface that
// holds it and its netmask. A played file's datagrams came from elsewhere:
// only the address selected while it played is kept, without a name.
PcapngInterface CaptureInterface(const std::string& localAddress, bool fromFile);

// Why a write failed, in the window's words.
QString WriteFaultReason(int error);

// The message of a save that left `path` alone, naming it.
QString SaveRefusalText(SaveRefusal refusal, const QString& path);
// The message of any failed save of the event log or a capture file.
QString SaveErrorText(const SaveResult& result, const QString& path);
