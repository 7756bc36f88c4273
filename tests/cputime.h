#pragma once

// The processor time this process has used so far, user and system, in seconds.
double processCpuSeconds();

#include <QtGlobal>

// Resident memory of process `pid` in kB, -1 when it cannot be read (Linux).
qint64 residentKb(qint64 pid);
