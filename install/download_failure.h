// The failure text of a download step: the client's last error, then a line
// "Download failed".
#pragma once

struct InstallSession;

void reportDownloadFailure(InstallSession* session);
