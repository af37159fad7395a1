#!/usr/bin/env python3
"""An example zvref player in Python: four robots that trade.

Each robot buys a finished product at one of its own workbenches and sells
it to one of its own workbenches that takes it, choosing the trip that earns
the most money per frame.  It drives straight for its goal and steers around
what its lidar shows in the way.  Standard library only; a starting point to
copy (docs/players.md describes the protocol and the rules).

    build/zvref -m maps/demo.txt players/trader.py build/players/idle

A frame has to be answered within 15 ms, so the work per frame is kept
small: the lidar is looked at only within a few metres of each robot.
Everything is deterministic: the same messages give the same answers.
"""
import math
import sys

BUY_PRICE = {1: 3000, 2: 4400, 3: 5800, 4: 15400, 5: 17200, 6: 19200, 7: 76000}
SELL_PRICE = {1: 6000, 2: 7600, 3: 9200, 4: 22500, 5: 25000, 6: 27500, 7: 105000}
# The products each workbench type takes; types 1 to 7 make the product of
# their own number, 8 and 9 make nothing.
TAKES = {4: (1, 2), 5: (1, 3), 6: (2, 3), 7: (4, 5, 6), 8: (7,), 9: (1, 2, 3, 4, 5, 6, 7)}
LAST_FRAME = 12000
NEAR = 0.4  # metres: how close a robot must be to a workbench to trade there

AVERAGE_SPEED = 3.5  # metres per second over a whole trip, for planning
LOOK = 4.0  # metres: lidar readings further away are ignored
ROOM = 0.68  # metres: the clearance kept from walls and robots while driving
BRAKE = 6.0  # metres per second squared, well below what a robot can do
WAIT_ROOM = 1.2  # metres: how far from a workbench a robot waits for its product
STEP = math.pi / 12  # between the directions tried around an obstacle

COS = [math.cos(math.radians(i)) for i in range(360)]
SIN = [math.sin(math.radians(i)) for i in range(360)]


def wrap(angle):
    """The angle in [-pi, pi]."""
    return (angle + math.pi) % (2 * math.pi) - math.pi


def time_rate(frames):
    """The part of a product's price that is left after carrying it that long."""
    x = min(frames, 9000) / 9000
    return (1 - math.sqrt(1 - (1 - x) ** 2)) * 0.2 + 0.8


def travel_frames(a, b):
    return math.dist(a, b) / AVERAGE_SPEED * 50


class Workbench:
    """A workbench line of the frame message."""

    def __init__(self, line):
        f = line.split()
        self.type = int(f[0])
        self.pos = (float(f[1]), float(f[2]))
        self.remain = int(f[3])
        self.have = int(f[4])
        self.ready = f[5] == b"1"

    def makes(self):
        return self.type if self.type <= 7 else 0

    def ready_in(self):
        """Frames until its product can be bought, None while it makes none."""
        if self.ready:
            return 0
        return self.remain if self.type <= 7 and self.remain >= 0 else None

    def takes(self, product):
        """Whether a sale of the product would be accepted now."""
        if product not in TAKES.get(self.type, ()):
            return False
        return self.type >= 8 or not self.have & (1 << product)


class RobotState:
    """A robot line of the frame message, and later its lidar line."""

    def __init__(self, line):
        f = line.split()
        self.near = int(f[0])
        self.product = int(f[1])
        self.omega = float(f[4])
        self.heading = float(f[7])
        self.pos = (float(f[8]), float(f[9]))
        self.lidar = []


def read_frame(stdin):
    """One frame message: (frame, money, workbenches, states); None at the end."""
    head = stdin.readline()
    if not head:
        return None
    frame, money = map(int, head.split())
    workbenches = [Workbench(stdin.readline()) for _ in range(int(stdin.readline()))]
    states = [RobotState(stdin.readline()) for _ in range(4)]
    line = stdin.readline()
    for state in states:
        if line.strip() == b"OK":
            break
        state.lidar = line.split()  # converted to numbers only where needed
        line = stdin.readline()
    while line and line.strip() != b"OK":
        line = stdin.readline()
    return frame, money, workbenches, states


class Plan:
    """What one robot is about: a trip, and how it is getting on."""

    def __init__(self):
        self.buy_at = -1  # the workbench it buys at, -1 for none
        self.sell_at = -1  # the workbench it sells to
        self.side = 1  # which way it turned last around an obstacle
        self.target = -1  # the workbench it is heading for
        self.best = 1e9  # its nearest approach to that workbench lately
        self.best_frame = 0
        self.backing = 0  # frames left of backing away after getting stuck


class Trader:
    """The player: a plan for each robot, carried from frame to frame."""

    def __init__(self, side):
        self.max_speed = 6.0 if side == 0 else 7.0
        self.plans = [Plan() for _ in range(4)]

    def play(self, frame, money, workbenches, states):
        """The command lines of one answer."""
        self.frame, self.money, self.workbenches, self.states = frame, money, workbenches, states
        commands = []
        for r, (state, plan) in enumerate(zip(states, self.plans)):
            commands += self.trade(r, state, plan)
            goal = self.goal(state, plan)
            if goal is not None:
                commands += self.drive(r, state, plan, goal)
            else:
                commands += [f"forward {r} 0\n", f"rotate {r} 0\n"]
        return commands

    # -- trading -----------------------------------------------------------

    def trade(self, r, state, plan):
        """Robot r's trading command, if any, after bringing its plan up to date."""
        workbenches = self.workbenches
        if state.product:
            if plan.sell_at < 0 or not self.fits(plan.sell_at, state.product, r):
                plan.sell_at = self.best_outlet(state.pos, state.product, r)
            if state.near >= 0 and state.near == plan.sell_at:
                plan.buy_at = plan.sell_at = -1
                return [f"sell {r}\n"]
            return []
        if plan.buy_at < 0 or workbenches[plan.buy_at].ready_in() is None:
            plan.buy_at, plan.sell_at = self.best_trip(state.pos, r)
        if plan.buy_at >= 0 and state.near == plan.buy_at and workbenches[plan.buy_at].ready:
            if self.money >= BUY_PRICE[workbenches[plan.buy_at].type]:
                return [f"buy {r}\n"]
        return []

    def fits(self, s, product, r):
        """Whether robot r may sell the product at workbench s: it takes it,
        and no other robot brings it the same."""
        bench = self.workbenches[s]
        if not bench.takes(product):
            return False
        return bench.type >= 8 or not any(
            other.sell_at == s and self.cargo(k) == product for k, other in enumerate(self.plans) if k != r)

    def cargo(self, r):
        """The product robot r carries, or is on its way to buy."""
        if self.states[r].product:
            return self.states[r].product
        buy_at = self.plans[r].buy_at
        return self.workbenches[buy_at].makes() if buy_at >= 0 else 0

    def best_outlet(self, pos, product, r):
        """The workbench to sell a carried product to, -1 for none."""
        best, best_score = -1, -1e18
        for s, bench in enumerate(self.workbenches):
            if self.fits(s, product, r):
                score = self.sale_value(s, product, travel_frames(pos, bench.pos))
                score /= travel_frames(pos, bench.pos) + 10
                if score > best_score:
                    best, best_score = s, score
        return best

    def sale_value(self, s, product, frames):
        """What a sale earns, with a share of what the workbench then makes."""
        value = SELL_PRICE[product] * time_rate(frames)
        made = self.workbenches[s].makes()
        if made:
            value += (SELL_PRICE[made] - BUY_PRICE[made]) / len(TAKES[made])
        return value

    def best_trip(self, pos, r):
        """(buy workbench, sell workbench) of the best trip, (-1, -1) for none."""
        taken = {other.buy_at for k, other in enumerate(self.plans) if k != r}
        best, best_score = (-1, -1), 0
        for b, bench in enumerate(self.workbenches):
            ready_in = bench.ready_in()
            product = bench.makes()
            if ready_in is None or b in taken:
                continue
            to_buy = max(travel_frames(pos, bench.pos), ready_in)
            for s, outlet in enumerate(self.workbenches):
                if not self.fits(s, product, r):
                    continue
                carry = travel_frames(bench.pos, outlet.pos)
                if self.frame + to_buy + carry + 50 > LAST_FRAME:
                    continue
                gain = self.sale_value(s, product, carry) - BUY_PRICE[product]
                score = gain / (to_buy + carry + 10)
                if score > best_score:
                    best, best_score = (b, s), score
        return best

    # -- driving -----------------------------------------------------------

    def goal(self, state, plan):
        """The workbench the robot is heading for, None for none."""
        target = plan.sell_at if state.product else plan.buy_at
        if target != plan.target:
            plan.target, plan.best, plan.best_frame = target, 1e9, self.frame
        return self.workbenches[target] if target >= 0 else None

    def drive(self, r, state, plan, goal):
        """Robot r's forward and rotate commands towards the goal."""
        dx, dy = goal.pos[0] - state.pos[0], goal.pos[1] - state.pos[1]
        dist = math.hypot(dx, dy)
        # A robot that waits for a product stops on the workbench only when
        # the product is nearly done, and until then keeps out of the way of
        # those who bring it materials.
        waiting = not state.product and not goal.ready
        stand_off = WAIT_ROOM if waiting and (goal.ready_in() or 0) > 15 else 0.0
        there = dist < NEAR + stand_off
        if dist < plan.best - 0.3 or there:
            plan.best, plan.best_frame = dist, self.frame
        elif self.frame - plan.best_frame > 100 and plan.backing == 0:
            plan.backing, plan.side = 25, -plan.side  # stuck: back off, try the other way
            plan.best, plan.best_frame = 1e9, self.frame
        if plan.backing > 0:
            plan.backing -= 1
            return [f"forward {r} -1.5\n", f"rotate {r} {plan.side * 2:.1f}\n"]

        points = self.obstacles(state)
        want = wrap(math.atan2(dy, dx) - state.heading)  # relative to the heading
        room = ROOM if dist > 1.5 else ROOM - 0.15  # workbenches may stand by a wall
        need = min(dist, 3.0)
        turn = want
        if free_way(points, want, room) < need:
            turn = self.way_around(points, want, room, need, plan)
        err = wrap(turn)
        rotate = max(-math.pi, min(math.pi, 6 * err - 0.1 * state.omega))
        if there and waiting:
            return [f"forward {r} 0\n", f"rotate {r} {rotate:.3f}\n"]
        speed = self.max_speed * max(0.0, math.cos(err)) ** 2
        arrive = 0.0 if waiting else 1.0  # the speed to pass the workbench with
        speed = min(speed, math.sqrt(arrive ** 2 + 2 * BRAKE * max(0.0, dist - stand_off - 0.1)))
        # Slow enough to turn onto the goal rather than circle round it.
        speed = min(speed, math.pi * dist / (2 * max(abs(math.sin(err)), 0.05)))
        speed = min(speed, math.sqrt(2 * BRAKE * max(0.0, free_way(points, 0.0, room - 0.1) - 0.1)))
        return [f"forward {r} {speed:.3f}\n", f"rotate {r} {rotate:.3f}\n"]

    def way_around(self, points, want, room, need, plan):
        """The direction nearest to the wanted one with room ahead."""
        best, best_free = want, -1.0
        for k in range(1, 9):
            for side in (plan.side, -plan.side):
                turn = want + side * k * STEP
                free = free_way(points, turn, room)
                if free >= need:
                    plan.side = side
                    return turn
                if free > best_free:
                    best, best_free = turn, free
        return best

    def obstacles(self, state):
        """The lidar's hits within LOOK metres, as points in the robot's frame."""
        points = []
        for i, text in enumerate(state.lidar):
            d = float(text)
            if d < LOOK:
                points.append((d * COS[i], d * SIN[i]))
        return points


def free_way(points, turn, room):
    """How far a body of radius room can go along the direction (radians,
    relative to the heading) before it touches one of the points."""
    c, s = math.cos(turn), math.sin(turn)
    best = LOOK
    for x, y in points:
        along = x * c + y * s
        if along <= 0:
            continue
        side = abs(y * c - x * s)
        if side < room:
            best = min(best, along - math.sqrt(room * room - side * side))
    return max(0.0, best)


def main():
    stdin, stdout = sys.stdin.buffer, sys.stdout
    side = 0
    for line in stdin:  # the start text: "BLUE" or "RED", then "OK"
        if line.strip() == b"RED":
            side = 1
        if line.strip() == b"OK":
            break
    stdout.write("OK\n")
    stdout.flush()
    trader = Trader(side)
    while True:
        message = read_frame(stdin)
        if message is None:
            return  # the match is over: the referee has closed our input
        commands = trader.play(*message)
        stdout.write(f"{message[0]}\n{''.join(commands)}OK\n")
        stdout.flush()


if __name__ == "__main__":
    try:
        main()
    except BrokenPipeError:  # the referee ended while we were answering
        pass
