#!/usr/bin/env bash
# A short fuzzing run of every target, from the checked-in corpus.
exec "$(dirname "$0")/../fuzz.sh" 3000
