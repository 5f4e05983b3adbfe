#pragma once

#include <functional>

#include "errors.h"
#include "quarn/database.h"

namespace quarn_py {

// A batch write of the engine, given the options to pass on.
using EngineBatch = std::function<quarn::Status(const quarn::BatchOptions&)>;

// Runs `write` without the interpreter lock and raises its error. With a progress callable
// (`progress` not None) the engine runs on a thread of its own and this thread calls
// progress(rows_done, rows_total), with the interpreter lock, for the latest count whenever the
// engine reports. An exception raised by the callable stops the reports but not the batch,
// which is written in full; it is raised once the batch is done.
void run_batch(const py::object& progress, const EngineBatch& write);

}  // namespace quarn_py
