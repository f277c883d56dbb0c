"""The emulated module: its wire forms, package check, behaviour and line."""
