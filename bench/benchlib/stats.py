"""Medians, ratios and the order in which subject and floor runs alternate."""

from __future__ import annotations

import math
import random
import statistics
from dataclasses import dataclass, field


def alternating(names: list[str], rounds: int) -> list[str]:
    """`rounds` runs of each name, in blocks that alternate direction
    (A B, B A, A B, ... or A B C, C B A, ...), so that a steady drift of the
    machine's speed falls on every name alike."""
    order: list[str] = []
    for r in range(rounds):
        order.extend(names if r % 2 == 0 else list(reversed(names)))
    return order


@dataclass
class Series:
    """One value per run (seconds, microseconds, ... as the caller decides)."""

    values: list[float] = field(default_factory=list)

    def add(self, value: float) -> None:
        self.values.append(value)

    @property
    def median(self) -> float:
        return statistics.median(self.values) if self.values else math.nan

    @property
    def low(self) -> float:
        return min(self.values) if self.values else math.nan

    @property
    def high(self) -> float:
        return max(self.values) if self.values else math.nan

    def __len__(self) -> int:
        return len(self.values)


def ratio(subject: Series, floor: Series) -> float:
    if not len(subject) or not len(floor) or floor.median == 0:
        return math.nan
    return subject.median / floor.median


def paired_ratios(subject: Series, floor: Series) -> list[float]:
    """Subject run i over floor run i: the runs were made next to each other."""
    return [s / f for s, f in zip(subject.values, floor.values) if f]


def median_interval(values: list[float], share: float = 0.90, draws: int = 2000) -> tuple[float, float]:
    """Where the median of `values` lies with the given confidence, by
    resampling them (bootstrap, a fixed seed so that a rerun on the same
    runs gives the same figures)."""
    pick = random.Random(1)
    medians = sorted(statistics.median(pick.choices(values, k=len(values))) for _ in range(draws))
    cut = int(draws * (1 - share) / 2)
    return medians[cut], medians[draws - 1 - cut]


def ratio_interval(subject: Series, parts: list[Series], share: float = 0.90,
                   draws: int = 2000) -> tuple[float, float]:
    """Where the median of `subject` over the sum of the medians of `parts`
    lies with the given confidence. Run i of every series was made in round
    i, so whole rounds are resampled (bootstrap, a fixed seed): drift that
    fell on one round falls on both sides of the ratio alike."""
    rounds = len(subject)
    if rounds == 0 or not parts or any(len(part) != rounds for part in parts):
        raise ValueError(f"{rounds} subject runs against parts of {[len(part) for part in parts]} runs: "
                         "one run of each per round")
    pick = random.Random(1)
    ratios = []
    for _ in range(draws):
        chosen = pick.choices(range(rounds), k=rounds)
        floor = sum(statistics.median(part.values[i] for i in chosen) for part in parts)
        ratios.append(statistics.median(subject.values[i] for i in chosen) / floor)
    ratios.sort()
    cut = int(draws * (1 - share) / 2)
    return ratios[cut], ratios[draws - 1 - cut]
