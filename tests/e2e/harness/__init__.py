"""Harness of the end-to-end cases: Wine prefixes, setup.exe runs through
runner.exe, registry and folder snapshots, the stand-ins."""

from .cases import add_case, e2e_case
from .context import (CAPTION, COMPONENT_DIR, DEFAULT_SETTINGS, SETUP_DIR, Box, CaseFailure,
                      CaseSkip, Context, ExportRun, RunResult, check, check_equal, win_join, write_ini)
from .firmware import Element, gate_passes, package, read_word, simple_package
from .regfile import diff as registry_diff

__all__ = [
    "add_case", "e2e_case", "CAPTION", "COMPONENT_DIR", "DEFAULT_SETTINGS", "SETUP_DIR", "Box",
    "CaseFailure", "CaseSkip", "Context", "ExportRun", "RunResult", "check", "check_equal", "win_join", "write_ini",
    "Element", "gate_passes", "package", "read_word", "simple_package", "registry_diff",
]
