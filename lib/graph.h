#pragma once
/* Region adjacency graphs and their edge lists. Not offered yet. */
