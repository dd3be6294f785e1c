message(STATUS ok)
