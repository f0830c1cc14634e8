// The Help menu's texts: a short guide for a class, and the answer to the
// question every class asks when the clock passes tick 1000.
#pragma once

inline constexpr const char* HELP_GUIDE_TEXT =
    "A scenario is one storm over the town, drawn from its seed: the storm's track and "
    "speed, every car's patience and fuel, every household's noise. Reset runs the same "
    "scenario again from tick 0; Next and Previous step to other seeds. The same scenario "
    "under two error levels differs only in what the households hear.\n\n"
    "What the households decide from: every tick each household gets a signal about the "
    "storm, off by up to the error level (Miscommunication: low 0.001, moderate 360, high "
    "inf, where the signal counts for nothing), its own threat mark (set while its house "
    "lies in the threat zone), its expected arrival of the storm, and the effort of the "
    "trip to the exit on roads as busy as they are. From these it plans a departure tick; "
    "its cars leave when the clock reaches it.\n\n"
    "Colours (View > Car states), one per count of File > Info:\n"
    "  blue: not evacuated (waiting at home)\n"
    "  green: evacuated (on the exit)\n"
    "  orange: gave up (patience ran out; back home)\n"
    "  cyan: en route (driving to the exit, or home after giving up)\n"
    "  violet: towed (ran dry and was towed home)\n"
    "  magenta: out of gas (stranded on the road)\n\n"
    "Marks: the white line is the storm's track, the white square the storm's place on it "
    "(an outline at the start while the storm still waits off the map); the red circle is "
    "the threat zone; a yellow outline marks a threatened house. The legend names the marks "
    "of the overlays that are on.\n\n"
    "Click a house or a road to inspect its cars; F2 opens the panel with the counts, their "
    "plot and the model's parameters.\n\n"
    "View > Compare (F3) runs the same scenario twice side by side on one clock: the left "
    "view is run A, the right run B. In the panel, Edit A and Edit B choose whose "
    "parameters you change (B's error buttons set B's error level at once), and Apply and "
    "reset starts both again; the counts of both runs stand side by side and the plot draws "
    "B's curves dashed. F3 again closes it.";

inline constexpr const char* HELP_WHY_TEXT =
    "Why do so many leave at once?\n\n"
    "A household that the threat zone has not marked expects the storm at tick 1000 (the "
    "parameter unthreatened_arrival). Until then the storm seems far away, so most plan to "
    "leave later; once the clock passes tick 1000 their expectation says the storm is here, "
    "and all of them leave within a few ticks. Threatened households expect it 180 ticks "
    "after their mark (arrival_lead) and leave earlier, spread out.";
