// The lidar workers: four threads, one started with each robot of the first
// player, that compute each frame, together with the game thread, the lidar
// and the explored cells of all eight robots.
//
// Tasks.  A frame's work is one task per robot, bit t = id + 4 x player:
// the robot's scan, followed by its lidar line, then the marking of its
// explored cells.  Any worker may run any part of any task, and so may the
// game thread; each part runs once, on the thread that takes its bit, and
// its results do not depend on which thread that is.  The first player's
// robot of an id is the robot whose worker was started first for that id; a
// frame has tasks only for the ids that have a worker.
//
// The hand-off, bit t for task t:
// - Robot::m_taskBits: the scans still to take.  Set by the game thread at
//   the release, for the robots whose scan inputs changed; a bit is cleared
//   by the thread that takes the scan, with an atomic AND, so that exactly
//   one thread finds it set.  Empty again when WaitScans returns.
// - Robot::m_doneBits: set (atomic OR) by the thread that ran a scan, once
//   the robot's m_radar and lidar line are written.  The game thread waits
//   in WaitScans until it holds every bit of the release, then empties it.
// - The cells still to mark: a task's bit is set by its scan's thread right
//   after that report, and taken like a scan.  The marked bits are set once
//   a task's cells are marked; the game thread waits for them and empties
//   both in WaitMarks.
// - The report that completes a mask rings the game thread's doorbell.
//   Workers wait at a doorbell of their own for scans, cells to mark, their
//   stop flag, or a call to spin for the next frame.
//
// Who owns what:
// - Before the release, and after WaitMarks: the game thread, everything.
// - Release: the game thread records every robot's scan inputs (its
//   position and angle, the other robots' positions and products) in the
//   robot.  From then on until WaitMarks no thread reads a body for the lidar.
// - Release to WaitScans: a scan's thread reads its robot's recorded inputs
//   and writes its m_radar, its scan cache and its player's lidar line of
//   that robot; the game thread runs the workbenches' production
//   (workbenches only) and takes scans and cells itself.
// - Until WaitMarks: a marking thread reads its robot's m_radar and
//   recorded inputs and marks cells in the player's grid (atomic bytes that
//   are only ever set) and the game's new-cell flag.  Once WaitScans has
//   returned the game thread writes the frame messages, reads the answers,
//   drives the robots and trades: none of that writes m_radar or the
//   recorded inputs, and no grid is read before WaitMarks.
//
// How many help.  The game thread takes every scan that no worker has taken
// when it reaches WaitScans, and every cell left in WaitMarks, so the
// workers only ever shorten a frame.  They help only while the machine has
// processors to spare for the process (ProcessLoad) and the players answer
// at once, and no more of them than the process may keep busy besides the
// game thread: on a busy or small machine, or beside players that think,
// the game thread runs the tasks itself and no wake-up is paid for.  Where
// they may spin, helpers are called while the players answer and spin for
// the next release, because a worker woken at the release may take the game
// thread's own processor; elsewhere (a processor quota) the release wakes
// them.
//
// Threads: AddWorker and RemoveWorker where a first-player robot is set up
// or destroyed (start-up on the main thread, or a test); Release, WaitScans,
// MarkOwnTasks and WaitMarks on the game thread; Serve on each worker.  The
// list of workers is guarded by Robot::m_taskMutex.
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
    // scans, its part while the players answer (cells to mark when nobody
    // helps, or the call to the helpers), the wait for the cells.
    static void Release();
    static void WaitScans();
    static void MarkOwnTasks();
    static void WaitMarks();

    // A worker's life: takes and runs tasks until the robot's stop flag is set.
    static void Serve(Robot* robot);

private:
    // A task's scan, after which its cells may be marked, and its marking.
    static void RunScan(int task);
    static void RunMark(int task);
    // Takes and runs a scan, or else the marking of a scanned task; false
    // when neither is left.
    static bool RunOneTask();
    // The release's wake-ups, for workers that may not spin.
    static void WakeForTasks();
    // Calls sleeping workers to spin for the next frame, as many as it wants.
    static void CallHelpers();
};
