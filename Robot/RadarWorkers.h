// The lidar workers: four threads, one started with each robot of the first
// player, that compute each frame, together with the game thread, the lidar
// and the explored cells of all eight robots.
//
// Tasks.  A frame's work is one task per robot id k (0 to 3): the scans of
// robot k of both players, each followed by the robot's lidar line, then the
// marking of their explored cells.  Any worker may run any task, and so may
// the game thread; a task runs once, on the thread that takes its bit, and
// its results do not depend on which thread that is.  Robot k of the first
// player is the robot whose worker was started first for id k.
//
// The hand-off, bit k for task k:
// - Robot::m_taskBits: set by the game thread at the release, for the tasks
//   whose scan inputs changed; cleared by the thread that takes a task, with
//   an atomic AND, so that exactly one thread finds it set.  Empty again
//   when WaitScans returns.
// - Robot::m_doneBits: set (atomic OR) by the thread that ran a task's scans,
//   once both robots' m_radar and lidar lines are written.  The game thread
//   waits in WaitScans until it holds every bit of the release, then empties
//   it.
// - The marked bits: set likewise once a task's cells are marked; waited for
//   and emptied in WaitMarks.
// - The report that completes a mask rings the game thread's doorbell; the
//   release rings the workers' doorbell for as many sleeping workers as it
//   wants helping (see below).
//
// Who owns what:
// - Before the release, and after WaitMarks: the game thread, everything.
// - Release: the game thread records every robot's scan inputs (its
//   position and angle, the other robots' positions and products) in the
//   robot.  From then on until WaitMarks no thread reads a body for the lidar.
// - Release to WaitScans: the thread of task k reads its two robots'
//   recorded inputs and writes their m_radar, their scan caches and their
//   players' lidar lines of robot k; the game thread runs the workbenches'
//   production (workbenches only) and takes tasks itself.
// - WaitScans to WaitMarks: the thread of task k reads its robots' m_radar
//   and recorded inputs and marks cells in their players' grids (atomic
//   bytes that are only ever set) and the game's new-cell flag.  The game
//   thread writes the frame messages, reads the answers, drives the robots
//   and trades: none of that writes m_radar or the recorded inputs, and no
//   grid is read before WaitMarks.  The cells of the tasks that the game
//   thread ran are marked by it in WaitMarks.
//
// How many help.  The game thread takes every task that no worker has taken
// when it reaches WaitScans, so the workers only ever shorten a frame.  A
// release wakes sleeping workers only while the machine has processors to
// spare (ProcessLoad), only as many as the process may keep busy besides
// the game thread, and not while recent wake-ups came late: on a busy or
// small machine the game thread runs the tasks itself and no wake-up is
// paid for.  A worker spins for its next task only where the process may
// use a processor for each of its threads that a frame keeps busy.
//
// Threads: AddWorker and RemoveWorker where a first-player robot is set up
// or destroyed (start-up on the main thread, or a test); Release, WaitScans
// and WaitMarks on the game thread; Serve on each worker.  The list of
// workers is guarded by Robot::m_taskMutex.
#pragma once

#include <cstdint>

class Robot;

class RadarWorkers {
public:
    // Enters the robot's worker, whose thread runs Serve, into the list.
    static void AddWorker(Robot* robot);
    // Takes the robot's worker out of the list once its thread has ended.
    static void RemoveWorker(Robot* robot);
    // Wakes every sleeping worker, so that one whose stop flag is set ends.
    static void WakeAll();

    // The game thread's steps of a frame: the release, the wait for the
    // scans, the marking of the cells of the tasks it ran itself (best done
    // while the players think; WaitMarks does it otherwise), the wait for
    // the marking.
    static void Release();
    static void WaitScans();
    static void MarkOwnTasks();
    static void WaitMarks();

    // A worker's life: takes and runs tasks until the robot's stop flag is set.
    static void Serve(Robot* robot);
};
