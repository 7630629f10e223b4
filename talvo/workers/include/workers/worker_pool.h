#pragma once

// Independent tasks on a bounded number of threads (talvo-pack -j N).
//
// One limit holds for the whole process: a call of run_tasks borrows extra threads only while fewer
// than limit - 1 are lent to other calls, and the calling thread always works too, so calls nested in
// tasks (files, then settings trials within a file) never have more than `limit` threads working at
// once. A nested call that finds no thread to borrow runs its tasks on its caller, in order.
//
// Tasks are numbered; each writes only what belongs to its own number, so the outcome does not depend
// on the limit or on which thread ran a task. Workers are numbered too: at most `limit` tasks of one
// call run at once and each has a worker number below worker_limit() of its own, for scratch memory that
// is reused from task to task.

#include <cstddef>
#include <type_traits>

// The number of processors this process may use; at least 1.
int processor_count();

// Sets the process-wide limit of threads working at once, the callers included; 0 (the default) means
// processor_count(). Call it before any run_tasks is under way.
void set_worker_limit(int limit);
int worker_limit();

using WorkerTask = void (*)(void* context, size_t task, int worker);

// Runs task(context, t, w) for every t in [0, count) and returns once every one has finished. Tasks
// start in increasing order of t. Returns false, having run nothing, only where count is 0.
bool run_tasks(size_t count, WorkerTask task, void* context);

// run_tasks over a callable f(size_t task, int worker).
template <class Function> bool run_tasks(size_t count, Function&& function) {
    using Callable = std::remove_reference_t<Function>;
    return run_tasks(
        count,
        [](void* context, size_t task, int worker) { (*static_cast<Callable*>(context))(task, worker); },
        const_cast<void*>(static_cast<const void*>(&function)));
}
