// Windows only: placeholder until the loader comparison is written.
