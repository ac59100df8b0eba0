# Load, soak, bad-input, well-formedness and shutdown tests.
