// Only carries the precompiled header every test suite reuses.
