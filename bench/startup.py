# Start-up: an empty program.
