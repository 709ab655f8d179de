// The batch's status callback: it turns each notification of the batch's sessions into status text,
// counts the bytes of the transfer in flight, stores the handle of a new connection, and hands each
// completion to the steps' table (steps.h). It runs on the FTP layer's delivery threads, one
// notification at a time (Run::Step), and for a completion the batch makes up, on its retry thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "batch/run.h"
#include "batch/steps.h"
#include "inet/wininet.h"

namespace batch {

// The WinINet status callback of every asynchronous session of the batch (a delivery thread).
void batchStatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                         LPVOID lpvStatusInformation, DWORD dwStatusInformationLength);

// One notification, inside a Step: from the FTP layer through the callback, or a completion the batch
// made up (`handle` 0).
void handleNotification(uint32_t handle, DWORD status, const void* info, DWORD length, Run::Request kind);

// The text a notification code sets, or nothing for a code the batch does not know.
std::optional<std::string_view> notificationText(DWORD code);

// A transfer is being issued: what its connection said before does not count as its bytes.
void startCounting();
// Report batch progress: `bytes` more of the file in flight.
void reportBatchProgress(DWORD bytes);

}  // namespace batch
