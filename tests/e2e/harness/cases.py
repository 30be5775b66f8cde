"""The list of cases that the case modules register.

    @e2e_case(needs_component=True)
    def fresh_install(ctx): ...

    for row in TABLE:
        add_case(f"gate[{row.name}]", run_gate_row, row=row, needs_component=True)

A case is a function taking the Context (and the keyword arguments given to
add_case); it fails by raising (check, check_equal), skips with CaseSkip.
Cases that need the stand-in automation component are skipped while it does
not exist.
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


REGISTRY: list[CaseEntry] = []


def _module_stem(func: Callable) -> str:
    module = inspect.getmodule(func)
    return module.__name__.rsplit(".", 1)[-1] if module else "cases"


def add_case(name: str, func: Callable, *, needs_component: bool = False, **kwargs) -> None:
    REGISTRY.append(CaseEntry(f"{_module_stem(func)}.{name}", func, needs_component, kwargs))


def e2e_case(*, needs_component: bool = False):
    def register(func: Callable) -> Callable:
        add_case(func.__name__, func, needs_component=needs_component)
        return func
    return register
