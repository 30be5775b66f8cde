"""The list of cases that the case modules register.

    @e2e_case(needs_component=True)
    def fresh_install(ctx): ...

    for row in TABLE:
        add_case(f"gate[{row.name}]", run_gate_row, row=row, needs_component=True)

A case is a function taking the Context (and the keyword arguments given to
add_case); it fails by raising (check, check_equal), skips with CaseSkip.
Cases that need the stand-in automation component are skipped while it does
not exist. Every case runs in both lanes; one that only makes sense in some
says so, and why it is skipped in the others:

    @e2e_case(only_lanes={"32": "why it means nothing in the 64-bit lane"})
"""

from __future__ import annotations

import inspect
from dataclasses import dataclass, field
from typing import Callable


@dataclass
class CaseEntry:
    name: str
    func: Callable
    needs_component: bool = False
    kwargs: dict = field(default_factory=dict)
    # Lane name -> why the case runs only there; empty: every lane.
    only_lanes: dict[str, str] = field(default_factory=dict)

    def skip_reason(self, lane: str) -> str | None:
        if not self.only_lanes or lane in self.only_lanes:
            return None
        return "; ".join(f"only in lane {name}: {why}" for name, why in self.only_lanes.items())


REGISTRY: list[CaseEntry] = []


def _module_stem(func: Callable) -> str:
    module = inspect.getmodule(func)
    return module.__name__.rsplit(".", 1)[-1] if module else "cases"


def add_case(name: str, func: Callable, *, needs_component: bool = False,
             only_lanes: dict[str, str] | None = None, **kwargs) -> None:
    REGISTRY.append(CaseEntry(f"{_module_stem(func)}.{name}", func, needs_component, kwargs, dict(only_lanes or {})))


def e2e_case(*, needs_component: bool = False, only_lanes: dict[str, str] | None = None):
    def register(func: Callable) -> Callable:
        add_case(func.__name__, func, needs_component=needs_component, only_lanes=only_lanes)
        return func
    return register
