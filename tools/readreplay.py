#!/usr/bin/python3
"""Prints a zvref replay file: its header, and the robots, both players'
money and the workbenches of one frame (the last by default).

    tools/readreplay.py REPLAY [FRAME]

It needs no build of zvref: the Python module of the replay schema is made
from Robot/Replay.proto by the system's protoc into a temporary folder and
imported from there.  Needs the Debian packages protobuf-compiler and
python3-protobuf (scripts/install-deps.sh installs both), and the system's
Python, /usr/bin/python3, which is the one that sees python3-protobuf.

The file: the header's length N as 4 bytes (little-endian), the header
(a Rep message), then every frame (a Frame message) back to back; the
header's length_of_frames gives the length of each.
"""
import importlib
import os
import subprocess
import sys
import tempfile

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "Robot", "Replay.proto")


def fail(text):
    sys.stderr.write(f"readreplay: {text}\n")
    sys.exit(1)


def load_schema(folder):
    """The module that protoc makes from the schema, built into folder."""
    schema_dir, schema_file = os.path.split(os.path.normpath(SCHEMA))
    try:
        subprocess.run(["protoc", f"--proto_path={schema_dir}", f"--python_out={folder}", schema_file],
                       check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    except FileNotFoundError:
        fail("protoc not found: install protobuf-compiler (bash scripts/install-deps.sh)")
    except subprocess.CalledProcessError as error:
        fail(f"protoc failed on {SCHEMA}: {error.stderr.strip()}")
    sys.path.insert(0, folder)
    try:
        return importlib.import_module("Replay_pb2")
    except ImportError as error:
        fail(f"{error}: run with /usr/bin/python3, and install python3-protobuf (bash scripts/install-deps.sh)")


class Replay:
    """The header and the raw bytes of each frame of a replay file."""

    def __init__(self, schema, path):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as error:
            fail(f"cannot read {path}: {error.strerror}")
        if len(data) < 4:
            fail(f"{path} is too short for a replay file ({len(data)} bytes)")
        size = int.from_bytes(data[:4], "little")
        if 4 + size > len(data):
            fail(f"{path}: the header length {size} runs past the end of the file ({len(data)} bytes)")
        self.schema = schema
        self.header = self.parse(schema.Rep, data[4:4 + size], "the header")
        # A file cut short keeps the frames that it holds whole.
        self.frames = []
        offset = 4 + size
        for length in self.header.length_of_frames:
            if offset + length > len(data):
                break
            self.frames.append(data[offset:offset + length])
            offset += length
        self.size = len(data)
        self.frame_bytes = len(data) - 4 - size
        self.damaged = offset != len(data) or len(self.frames) != len(self.header.length_of_frames)

    @staticmethod
    def parse(message_type, data, what):
        message = message_type()
        try:
            message.ParseFromString(data)
        except Exception as error:  # the library's DecodeError, or worse for garbage
            fail(f"{what} is not readable: {error}")
        return message

    def last_frame(self):
        return self.parse(self.schema.Frame, self.frames[-1], "the last frame")

    def frame(self, frame_id):
        """The frame with that number: frames are recorded from 1 in order,
        so it is looked for at its place first."""
        if 1 <= frame_id <= len(self.frames):
            frame = self.parse(self.schema.Frame, self.frames[frame_id - 1], f"frame {frame_id}")
            if frame.frame_id == frame_id:
                return frame
        for index, data in enumerate(self.frames):
            frame = self.parse(self.schema.Frame, data, f"record {index + 1}")
            if frame.frame_id == frame_id:
                return frame
        fail(f"there is no frame {frame_id}; the replay has {len(self.frames)} frames")


def held_materials(needed, byte):
    """The materials held, from the needed-material mask and the frame's byte:
    its bits 1 to 3 are set per input slot, slots in ascending product id."""
    products = [p for p in range(1, 8) if needed & (1 << p)]
    if len(products) > 3:
        return "?"  # type 9 takes all seven: the byte has no room for them
    held = [str(p) for slot, p in enumerate(products) if byte & (2 << slot)]
    return ",".join(held) or "-"


def progress(byte):
    steps = byte >> 4
    return "idle" if steps == 15 else f"{steps}/14"


def print_header(replay, path):
    header = replay.header
    names = list(header.player_names)
    owners = [wb.owner for wb in header.workbenchs]
    rows = list(header.map_str)
    print(f"file         {path} ({replay.size} bytes)")
    print(f"players      {', '.join(names)}")
    print(f"map          {len(rows)} rows of {len(rows[0]) if rows else 0} cells, "
          f"{header.map_width:g} m x {header.map_height:g} m")
    print(f"workbenches  {len(owners)} ({owners.count(0)} of player 1, {owners.count(1)} of player 2)")
    print(f"frames       {len(replay.frames)}")
    if replay.damaged:
        print(f"damaged      the header lists {len(header.length_of_frames)} frames of"
              f" {sum(header.length_of_frames)} bytes; {replay.frame_bytes} bytes follow it")


def print_frame(replay, frame):
    header = replay.header
    names = list(header.player_names)
    print()
    print(f"frame {frame.frame_id}")
    for index, player in enumerate(frame.players):
        name = names[index] if index < len(names) else "?"
        print(f"player {index + 1} {name}: money {player.money}, skipped frames {player.skipped_frames}")
        for robot_id, robot in enumerate(player.robots):
            print(f"  robot {robot_id}: at ({robot.pos.x:.3f}, {robot.pos.y:.3f}) heading {robot.radian:.3f}"
                  f" carrying {robot.carry_id} value rate {robot.value_rate:.4f}")
    print("workbenches")
    states = frame.workbench_frame
    for index, wb in enumerate(header.workbenchs):
        byte = states[index] if index < len(states) else 0
        ready = "product ready" if byte & 1 else "no product"
        print(f"  {index:2d}: player {wb.owner + 1} type {wb.product_id} at ({wb.pos.x:.2f}, {wb.pos.y:.2f}):"
              f" {ready}, held {held_materials(wb.material_bits, byte)}, progress {progress(byte)}")
    image = len(frame.shadow_png)
    print(f"explored-cells image: {f'{image} bytes of PNG' if image else 'none in this frame'}")


def main(argv):
    if len(argv) not in (2, 3):
        fail("usage: readreplay.py REPLAY [FRAME]")
    frame_id = None
    if len(argv) == 3:
        try:
            frame_id = int(argv[2])
        except ValueError:
            fail(f"FRAME must be a frame number, not '{argv[2]}'")
    with tempfile.TemporaryDirectory(prefix="readreplay.") as folder:
        replay = Replay(load_schema(folder), argv[1])
        print_header(replay, argv[1])
        if not replay.frames:
            return
        frame = replay.last_frame() if frame_id is None else replay.frame(frame_id)
        print_frame(replay, frame)


if __name__ == "__main__":
    try:
        main(sys.argv)
    except BrokenPipeError:  # the reader has seen enough (| head)
        sys.stderr.close()
        sys.exit(0)
