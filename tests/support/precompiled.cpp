// Only here so that the precompiled header has a target of its own.
