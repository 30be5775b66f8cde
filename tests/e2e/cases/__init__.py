"""End-to-end cases, one module per group; see ../README.md."""
