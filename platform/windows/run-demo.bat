@echo off
rem Starts the program beside the simulating stand-in of the counter library.
rem Change the input frequency (in Hz) to see the automatic range follow it.
setlocal
set PULSEMETER_SIM_FREQUENCY=2000
start "" "%~dp0pulsemeter.exe"
